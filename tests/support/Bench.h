#pragma once

#include "board/SimulatedSerialControl.h"
#include "link/CommandFrame.h"
#include "link/ReceiveDispatcher.h"
#include "operations/ImageFile.h"
#include "operations/ProgressDisplay.h"
#include "operations/Session.h"
#include "ScriptedOperator.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

// The progress display as the operations leave it, and every value it showed.
struct RecordedProgress : ProgressDisplay {
    explicit RecordedProgress(const FormState &state) : state(state) {}
    void setRefreshing(bool on) override { refreshing = on; }
    void setShown(bool on) override { shown = on; }
    void refreshNow() override { refreshed << state.currentAddress; }

    const FormState &state;
    bool refreshing = true;  // the refresh timer runs from start-up
    bool shown = false;
    QList<int> refreshed;
};

// A session over the software board with a scripted operator, in a temporary directory.
struct Bench {
    SimulatedSerialControl port;
    ScriptedOperator op;
    Session session{port, op};
    FormState &state = session.state();
    ReceiveDispatcher &dispatcher = session.dispatcher();
    RecordedProgress progress{state};
    QTemporaryDir dir;

    explicit Bench(const QStringList &faults = {})
    {
        BoardFaults applied;
        for (const QString &fault : faults)
            if (!applied.apply(fault, nullptr))
                qFatal("bad fault %s", qPrintable(fault));
        port.board().setFaults(applied);
        session.setProgressDisplay(&progress);
        port.open();
        QTest::qWait(1);  // the DSR change at open
        port.clearRecords();
    }

    QString path(const QString &name) const { return dir.filePath(name); }
    QString file(const QString &name, const QByteArray &contents) const
    {
        QFile f(path(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(contents) != contents.size())
            qFatal("cannot write %s", qPrintable(f.fileName()));
        return f.fileName();
    }
    static QByteArray contents(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    Eprom27C256 &chip() { return port.board().chip(); }
    // Sends that carried 8 data bytes, and those that carried something else.
    int dataSends() const
    {
        return int(std::count_if(port.sends().begin(), port.sends().end(), [](const QByteArray &s) { return s.size() == 8; }));
    }
    int sendsOf(const QByteArray &bytes) const { return int(port.sends().count(bytes)); }
    bool waitForMessage(const QString &text, int timeoutMs = 60000)
    {
        return waitUntil([&] { return op.texts().contains(text); }, timeoutMs);
    }
    // Runs the event loop at full speed (QTest's waits pause between passes) until `done`.
    template <typename Predicate>
    static bool waitUntil(Predicate done, int timeoutMs)
    {
        if (done())
            return true;
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done())
                loop.quit();
        });
        poll.start(5);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        return done();
    }
};

inline QByteArray randomImage(int size, quint32 seed = 7)
{
    QRandomGenerator random(seed);
    QByteArray image(size, '\0');
    for (char &c : image)
        c = char(random.bounded(256));
    return image;
}

inline QByteArray erased(int size = Chip::Size)
{
    return QByteArray(size, char(0xFF));
}

// Makes a file unwritable even for root, for as long as the guard lives.
struct Immutable {
    explicit Immutable(const QString &path) : path(path)
    {
        ok = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path}) == 0;
    }
    ~Immutable()
    {
        if (ok)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path});
    }
    QString path;
    bool ok = false;
};
