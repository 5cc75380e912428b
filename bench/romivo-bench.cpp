// SPDX-License-Identifier: GPL-3.0-or-later
// Times the four whole-chip operations against the line-rate limit: the paced in-process board,
// the real serial path against romivo-board --paced on a pseudo-terminal, and the unpaced board.
// romivo-bench [--json] [--board PATH-TO-romivo-board] [--only sim-paced|pty-paced|sim-fast]
#include "board/SimulatedSerialControl.h"
#include "link/QtSerialControl.h"
#include "operations/Operator.h"
#include "operations/Session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

constexpr double LineRate = 1920.0;
constexpr double WriteBytes = 32963.0;   // 32,768 data bytes and 65 frames
constexpr double StreamBytes = 32771.0;  // the stream frame and 32,768 bytes back

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Figure {
    QString operation;
    double wall = 0;
    double cpu = 0;
    double limit = 0;
    bool ok = false;
};

// Runs the four operations over `port` and times each.
QList<Figure> runFour(SerialControl &port, const QString &workDir)
{
    AnsweringOperator op;
    Session session(port, op);
    QByteArray image(Chip::Size, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((i * 7) ^ (i >> 8));
    // The read goes to a file, as a user's would.
    QFile target(workDir + QStringLiteral("/read.bin"));
    if (!target.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return {};

    // Sleeps until the operation announces its end: no polling that would add wake-ups or delay.
    auto timed = [&](const QString &name, double bytes, Outcome expected, const std::function<void()> &start) {
        std::optional<OperationResult> result;
        QEventLoop loop;
        const auto connection = QObject::connect(&session, &Session::finished, &loop, [&](OperationResult r) {
            result = r;
            loop.quit();
        });
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        QElapsedTimer wall;
        wall.start();
        const double cpu = cpuSeconds();
        start();
        if (!result)
            loop.exec();
        QObject::disconnect(connection);
        const bool ok = result && result->outcome == expected;
        return Figure{name, wall.nsecsElapsed() / 1e9, cpuSeconds() - cpu, bytes / LineRate, ok};
    };
    QList<Figure> figures;
    figures << timed(QStringLiteral("write"), WriteBytes, Outcome::Written, [&] { session.write().write(image); });
    figures << timed(QStringLiteral("read"), StreamBytes, Outcome::ReadDone,
                     [&] { session.read().read(target); });
    figures << timed(QStringLiteral("verify"), StreamBytes, Outcome::Verified,
                     [&] { session.check().verify(image); });
    // Blank check of an erased chip streams all of it.
    auto *sim = qobject_cast<SimulatedSerialControl *>(&port);
    if (!sim)
        return figures;  // the board on the terminal keeps its programmed chip
    sim->board().chip().erase();
    figures << timed(QStringLiteral("blank"), StreamBytes, Outcome::Blank, [&] { session.check().blankCheck(); });
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool json = args.contains(QStringLiteral("--json"));
    const qsizetype boardAt = args.indexOf(QStringLiteral("--board"));
    const QString boardTool = boardAt > 0 && boardAt + 1 < args.size()
                                  ? args.at(boardAt + 1)
                                  : QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/romivo-board");
    const qsizetype onlyAt = args.indexOf(QStringLiteral("--only"));
    const QString only = onlyAt > 0 && onlyAt + 1 < args.size() ? args.at(onlyAt + 1) : QString();
    auto wanted = [&](const QString &setup) { return only.isEmpty() || only == setup; };
    QTemporaryDir dir;
    QJsonObject report;
    QString table;

    auto add = [&](const QString &setup, const QList<Figure> &figures, bool paced) {
        QJsonArray rows;
        double total = 0;
        for (const Figure &f : figures) {
            total += f.wall;
            QJsonObject row{{"operation", f.operation}, {"wall_s", f.wall}, {"cpu_s", f.cpu}, {"ok", f.ok},
                            {"cpu_over_wall", f.cpu / f.wall}};
            if (paced) {
                row.insert("line_limit_s", f.limit);
                row.insert("ratio", f.wall / f.limit);
                table += QString::asprintf("%-10s %-7s %8.2f s  limit %6.2f s  ratio %5.3f  cpu %5.1f %%%s\n",
                                           qPrintable(setup), qPrintable(f.operation), f.wall, f.limit, f.wall / f.limit,
                                           100 * f.cpu / f.wall, f.ok ? "" : "  FAILED");
            } else {
                table += QString::asprintf("%-10s %-7s %8.4f s%s\n", qPrintable(setup), qPrintable(f.operation), f.wall,
                                           f.ok ? "" : "  FAILED");
            }
            rows.append(row);
        }
        if (!paced)
            table += QString::asprintf("%-10s %-7s %8.4f s\n", qPrintable(setup), "all", total);
        report.insert(setup, QJsonObject{{"operations", rows}, {"total_s", total}});
    };

    if (wanted(QStringLiteral("sim-paced"))) {
        SimulatedSerialControl sim;
        sim.line().setPaced(true);
        sim.open();
        add(QStringLiteral("sim-paced"), runFour(sim, dir.path()), true);
    }
    if (wanted(QStringLiteral("pty-paced"))) {
        QProcess board;
        board.start(boardTool, {QStringLiteral("--paced")});
        if (board.waitForStarted(5000) && board.waitForReadyRead(5000)) {
            QtSerialControl port;
            port.setCommPort(QString::fromLocal8Bit(board.readLine()).trimmed());
            if (port.open())
                add(QStringLiteral("pty-paced"), runFour(port, dir.path()), true);
            port.close();
        } else {
            std::fprintf(stderr, "romivo-bench: cannot start %s; the pseudo-terminal figures are left out\n",
                         qPrintable(boardTool));
        }
        board.terminate();
        board.waitForFinished(5000);
    }
    if (wanted(QStringLiteral("sim-fast"))) {
        SimulatedSerialControl sim;
        sim.open();
        add(QStringLiteral("sim-fast"), runFour(sim, dir.path()), false);
    }

    if (json)
        std::fputs(QJsonDocument(report).toJson(QJsonDocument::Compact).constData(), stdout);
    else
        std::fputs(qPrintable(table), stdout);
    std::fputs("\n", stdout);
    return 0;
}
