// SPDX-License-Identifier: GPL-3.0-or-later
// A batch on N boards at once against one board alone: N paced romivo-board instances on
// pseudo-terminals, one romivo-cli writing (with its check and verify) the same image to all of
// them. For N = 1, 2, 4, 8, 16: the wall time and its ratio to N = 1, romivo-cli's CPU per board
// per second, and its peak resident size.
// romivo-batch-bench [--json] [--max N] (romivo-board and romivo-cli are taken from the build tree)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

struct Row {
    int boards = 0;
    double wall = 0;
    double cpu = 0;
    long peakKiB = 0;
    int status = -1;
};

// romivo-cli run to its end, with its own resource use (not its children's, not the boards').
Row runCli(const QString &cli, const QStringList &arguments)
{
    Row row;
    std::vector<QByteArray> storage{cli.toLocal8Bit()};
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &bytes : storage)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        return row;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    row.wall = clock.elapsed() / 1000.0;
    row.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    row.peakKiB = usage.ru_maxrss;
    row.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return row;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const bool json = arguments.contains(QStringLiteral("--json"));
    const qsizetype maxAt = arguments.indexOf(QStringLiteral("--max"));
    const int most = maxAt > 0 ? arguments.value(maxAt + 1).toInt() : 16;
    const QString tools = QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/");

    QTemporaryDir dir;
    QByteArray image(32768, '\0');
    QRandomGenerator random(9);
    for (char &c : image)
        c = char(random.bounded(256));
    QFile file(dir.filePath(QStringLiteral("image.bin")));
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        return 2;
    file.close();

    QList<Row> rows;
    for (int boards = 1; boards <= most; boards *= 2) {
        std::vector<std::unique_ptr<QProcess>> processes;
        QStringList ports;
        for (int i = 0; i < boards; ++i) {
            auto board = std::make_unique<QProcess>();
            board->start(tools + QStringLiteral("romivo-board"), {QStringLiteral("--paced")});
            if (!board->waitForReadyRead(10000))
                return 2;
            ports << QString::fromLocal8Bit(board->readLine()).trimmed();
            processes.push_back(std::move(board));
        }
        Row row = runCli(tools + QStringLiteral("romivo-cli"),
                         {QStringLiteral("--quiet"), QStringLiteral("--port"), ports.join(u','), QStringLiteral("write"), file.fileName()});
        row.boards = boards;
        rows.append(row);
        for (auto &board : processes) {
            board->terminate();
            board->waitForFinished(5000);
        }
    }

    const Row &one = rows.constFirst();
    if (json) {
        QJsonArray array;
        for (const Row &row : rows)
            array.append(QJsonObject{{"boards", row.boards}, {"status", row.status}, {"wall_s", row.wall},
                                     {"ratio_to_one", row.wall / one.wall}, {"cpu_s", row.cpu},
                                     {"cpu_per_board_per_s", row.cpu / row.boards / row.wall},
                                     {"peak_kib", qint64(row.peakKiB)}, {"peak_ratio_to_one", double(row.peakKiB) / double(one.peakKiB)}});
        std::printf("%s\n", QJsonDocument(array).toJson(QJsonDocument::Compact).constData());
        return 0;
    }
    std::printf("%6s %6s %10s %8s %22s %14s %8s\n", "boards", "status", "wall (s)", "ratio", "CPU per board per s", "peak (KiB)", "ratio");
    for (const Row &row : rows)
        std::printf("%6d %6d %10.2f %8.4f %20.2f %% %14ld %8.2f\n", row.boards, row.status, row.wall, row.wall / one.wall,
                    100.0 * row.cpu / row.boards / row.wall, row.peakKiB, double(row.peakKiB) / double(one.peakKiB));
    return 0;
}
