// SPDX-License-Identifier: GPL-3.0-or-later
// The reference board's timing, in its own simulated time: how long after a block's last byte its
// acknowledgement leaves the board, and what that leaves of the program's 500 ms, for cells that
// take one pulse and for cells that take one to four; and a read's bytes per second against the
// line's 1,920. Also the simulator's own CPU use.
// romivo-avr-bench [--json] (romivo-avr-board and romivo-cli are taken from the build tree)
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <numeric>
#include <cstdio>
#include <sys/resource.h>

namespace {

constexpr double LineRate = 1920.0;
constexpr double AckWaitMs = 500.0;

struct Byte { double seconds; char direction; quint8 value; };

// A --log or --trace file: one line per piece, "seconds direction hex...".
QList<Byte> wire(const QString &path)
{
    QList<Byte> bytes;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return bytes;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
        if (fields.size() < 3 || (fields[1] != ">" && fields[1] != "<"))
            continue;
        for (qsizetype i = 2; i < fields.size(); ++i)
            bytes.append({fields[0].toDouble(), fields[1][0], quint8(fields[i].toUInt(nullptr, 16))});
    }
    return bytes;
}

// For each of the write's 64 acknowledgements (the write comes first, and the board sends nothing
// else during it), milliseconds since the last byte that went the other way before it.
QList<double> ackDelays(const QList<Byte> &bytes, char towardsBoard)
{
    QList<double> delays;
    double lastSent = -1;
    for (const Byte &byte : bytes) {
        if (byte.direction == towardsBoard)
            lastSent = byte.seconds;
        else if (byte.value == 0x0D && lastSent >= 0 && delays.size() < 64)
            delays.append((byte.seconds - lastSent) * 1000.0);
    }
    return delays;
}

double childCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Row {
    QString pulses;
    double ackMean = 0, ackWorst = 0, marginWorst = 0, readRate = 0, simulated = 0, cpuShare = 0;
    int blocks = 0;
    bool ok = false;
};

Row measure(const QString &pulses, const QString &dir)
{
    Row row;
    row.pulses = pulses;
    const QString tools = QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/");
    QByteArray image(32768, '\0');
    QRandomGenerator random(5);
    for (char &c : image)
        c = char(random.bounded(255)); // no 0xFF: every byte is programmed
    QFile imageFile(dir + QStringLiteral("/image.bin"));
    if (!imageFile.open(QIODevice::WriteOnly) || imageFile.write(image) != image.size())
        return row;
    imageFile.close();

    const double cpuBefore = childCpuSeconds();
    QProcess board;
    board.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString boardLog = dir + QStringLiteral("/board-") + pulses + QStringLiteral(".log");
    board.start(tools + QStringLiteral("romivo-avr-board"), {"--pulses", pulses, "--log", boardLog});
    if (!board.waitForReadyRead(10000))
        return row;
    const QString port = QString::fromLocal8Bit(board.readLine()).trimmed();
    const QString trace = dir + QStringLiteral("/cli-") + pulses + QStringLiteral(".log");
    const int status = QProcess::execute(tools + QStringLiteral("romivo-cli"),
        {"--quiet", "--port", port, "--trace", trace, "--no-check", "--no-verify", "write", imageFile.fileName(),
         "read", dir + QStringLiteral("/read.bin")});
    board.terminate();
    board.waitForFinished(10000);
    row.ok = status == 0 && board.exitCode() == 0;

    const QList<Byte> onBoard = wire(boardLog);
    const QList<double> delays = ackDelays(onBoard, '>');
    const QList<double> seen = ackDelays(wire(trace), '>');
    row.blocks = int(delays.size());
    if (!delays.isEmpty()) {
        row.ackMean = std::accumulate(delays.begin(), delays.end(), 0.0) / double(delays.size());
        row.ackWorst = *std::max_element(delays.begin(), delays.end());
    }
    if (!seen.isEmpty())
        row.marginWorst = AckWaitMs - *std::max_element(seen.begin(), seen.end());
    // The read: the last 32,768 bytes the board sent.
    QList<double> sent;
    for (const Byte &byte : onBoard)
        if (byte.direction == '<')
            sent.append(byte.seconds);
    if (sent.size() >= 32768)
        row.readRate = 32767.0 / (sent.last() - sent[sent.size() - 32768]);
    if (!onBoard.isEmpty())
        row.simulated = onBoard.last().seconds;
    row.cpuShare = row.simulated > 0 ? (childCpuSeconds() - cpuBefore) / row.simulated : 0;
    return row;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const bool json = app.arguments().contains(QStringLiteral("--json"));
    QTemporaryDir dir;
    QList<Row> rows;
    for (const QString &pulses : {QStringLiteral("1"), QStringLiteral("1-4")})
        rows.append(measure(pulses, dir.path()));

    if (json) {
        QJsonArray array;
        for (const Row &row : rows)
            array.append(QJsonObject{{"pulses", row.pulses}, {"ok", row.ok}, {"blocks", row.blocks},
                                     {"ack_mean_ms", row.ackMean}, {"ack_worst_ms", row.ackWorst},
                                     {"margin_worst_ms", row.marginWorst}, {"read_bytes_per_s", row.readRate},
                                     {"read_ratio_to_line", row.readRate / LineRate}, {"simulator_cpu_share", row.cpuShare}});
        std::printf("%s\n", QJsonDocument(array).toJson(QJsonDocument::Compact).constData());
        return 0;
    }
    std::printf("%-7s %-4s %6s %13s %14s %22s %12s %9s\n", "pulses", "ok", "blocks", "ack mean (ms)", "ack worst (ms)",
                "worst margin of 500 ms", "read (B/s)", "sim CPU");
    for (const Row &row : rows)
        std::printf("%-7s %-4s %6d %13.2f %14.2f %19.1f ms %7.0f (%3.0f %%) %8.1f %%\n", qPrintable(row.pulses), row.ok ? "yes" : "NO",
                    row.blocks, row.ackMean, row.ackWorst, row.marginWorst, row.readRate, 100.0 * row.readRate / LineRate,
                    100.0 * row.cpuShare);
    return 0;
}
