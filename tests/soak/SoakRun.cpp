#include "SoakRun.h"

#include "board/SelectingSerialControl.h"
#include "ScriptedOperator.h"
#include "operations/Session.h"
#include "ui/Form1.h"
#include "ui/ServicePanel.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include "operations/Messages.h"

namespace {

// Longest the event loop may go unserved: the program's only blocking wait (POSIZIONO's pause) is
// made instant here, so anything near this is a handler that stopped listening.
constexpr qint64 LatenessLimitMs = 1500;
// Pause between one action and the next, unless the history waits longer.
constexpr int ActionGapMs = 5;

// A read in flight: the file must always be its old contents with a prefix replaced by the bytes
// that came from the board after the read was pressed, never more than the chip holds.
struct ReadWatch {
    qsizetype wireStart = 0;
    QByteArray before;
};

QString readTargetFault(const QByteArray &now, const ReadWatch &watch, const QByteArray &wire)
{
    const QByteArray &before = watch.before;
    qsizetype received = 0;  // longest prefix of the file that is the board's bytes
    while (received < now.size() && received < wire.size() && received < 32768 && now[received] == wire[received])
        ++received;
    qsizetype lastChange = -1;  // last offset where the file differs from its old contents
    for (qsizetype i = qMax(now.size(), before.size()) - 1; i >= 0; --i) {
        if (i >= now.size() || i >= before.size() || now[i] != before[i]) {
            lastChange = i;
            break;
        }
    }
    if (now.size() < before.size())
        return QStringLiteral("the read target shrank from %1 to %2 bytes").arg(before.size()).arg(now.size());
    if (lastChange >= 32768)
        return QStringLiteral("the read target changed at offset %1, beyond the chip").arg(lastChange);
    if (lastChange >= received)
        return QStringLiteral("the read target holds at offset %1 a byte the board did not send there (%2 bytes "
                              "match the board's)").arg(lastChange).arg(received);
    return {};
}

class Run : public QObject {
    Q_OBJECT
public:
    explicit Run(const SoakHistory &history) : m_history(history)
    {
        m_previousDir = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        makeFiles();
        m_form.setEndProgram([] {});
        m_session.service().setPause([this](int ms) {
            if (ms != ServiceCommands::PositionPauseMs)
                fail(QStringLiteral("POSIZIONO paused %1 ms").arg(ms));
        });
        m_form.show();
        m_files = snapshot();
    }

    ~Run() override
    {
        if (m_locked)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), m_dir.filePath(QStringLiteral("locked.bin"))});
        QDir::setCurrent(m_previousDir);
    }

    SoakOutcome play()
    {
        m_clock.start();
        schedule(0);
        QEventLoop loop;
        connect(this, &Run::progressed, &loop, [&] {
            if ((m_done && m_depth == 0) || !m_failure.isEmpty())
                loop.quit();
        });
        QTimer::singleShot(180000, &loop, &QEventLoop::quit);
        loop.exec();
        if (m_failure.isEmpty() && !(m_done && m_depth == 0))
            fail(QStringLiteral("a handler never returned (%1 still running)").arg(m_depth));
        if (m_failure.isEmpty())
            recover();
        return {m_failure, m_next};
    }

signals:
    // An action ended, the history ended, or a check failed.
    void progressed();

private:
    void makeFiles()
    {
        QRandomGenerator random(1);
        QByteArray image(32768, Qt::Uninitialized);
        for (char &byte : image)
            byte = char(random.bounded(256));
        write(QStringLiteral("image.bin"), image);
        write(QStringLiteral("short.bin"), image.left(100));
        write(QStringLiteral("empty.bin"), {});
        write(QStringLiteral("long.bin"), image + QByteArray(7232, '\x11'));
        write(QStringLiteral("out.bin"), QByteArray(40000, '\xa5'));  // not the board's surplus filler
        write(QStringLiteral("image.hex"), ":10000000000102030405060708090A0B0C0D0E0F78\n:00000001FF\n");
        write(QStringLiteral("locked.bin"), image);
        QDir(m_dir.path()).mkdir(QStringLiteral("dir"));
        write(QStringLiteral("dir/inner.bin"), image.left(10));
        m_locked = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), m_dir.filePath(QStringLiteral("locked.bin"))}) == 0;
        m_image = image;
    }

    void write(const QString &name, const QByteArray &bytes)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot make %s", qPrintable(file.fileName()));
    }

    QHash<QString, QByteArray> snapshot() const
    {
        QHash<QString, QByteArray> files;
        QDirIterator it(m_dir.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = QFileInfo(it.next()).canonicalFilePath();
            QFile file(path);
            files.insert(path, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>"));
        }
        return files;
    }

    void schedule(int delayMs)
    {
        m_dueAt = m_clock.elapsed() + delayMs;
        QTimer::singleShot(delayMs, this, [this] { step(); });
    }

    void fail(const QString &why)
    {
        if (m_failure.isEmpty())
            m_failure = why;
        emit progressed();
    }

    void step()
    {
        if (!m_failure.isEmpty())
            return;
        const qint64 late = m_clock.elapsed() - m_dueAt;
        if (late > LatenessLimitMs)
            fail(QStringLiteral("the event loop went unserved for %1 ms before action %2").arg(late).arg(m_next + 1));
        if (m_next >= m_history.size()) {
            // The end of the history: stop whatever runs, from wherever the program is.
            m_session.stop();
            m_done = true;
            emit progressed();
            return;
        }
        const SoakAction action = m_history.at(m_next++);
        const bool waits = action.verb == QLatin1String("wait");
        schedule(waits ? action.argument.toInt() : ActionGapMs);
        ++m_depth;
        perform(action);
        --m_depth;
        check(m_next, action);
        emit progressed();
    }

    QPushButton *button(const char *name) const { return m_form.findChild<QPushButton *>(QString::fromLatin1(name)); }
    QLineEdit *box(const char *name) const { return m_form.findChild<QLineEdit *>(QString::fromLatin1(name)); }
    SimulatedSerialControl &sim() { return m_port.simulated(); }

    QString fileBoxPath(const QString &name) const
    {
        if (!SoakFiles::Names.contains(name))
            return name;  // typed as it stands, relative to the working directory
        return m_dir.path() + u'/' + name;
    }

    void perform(const SoakAction &action)
    {
        const QString &verb = action.verb;
        if (verb == QLatin1String("write")) button("Command3")->click();
        else if (verb == QLatin1String("read")) pressRead();
        else if (verb == QLatin1String("verify")) button("Command7")->click();
        else if (verb == QLatin1String("blank")) button("Command8")->click();
        else if (verb == QLatin1String("connect")) button("Command2")->click();
        else if (verb == QLatin1String("disconnect")) button("Command1")->click();
        else if (verb == QLatin1String("service")) m_form.menuService_Click();
        else if (verb == QLatin1String("position")) clickIfShown("buttonPompoClock");
        else if (verb == QLatin1String("readdata")) clickIfShown("buttonReadData");
        else if (verb == QLatin1String("writedata")) clickIfShown("buttonWriteData");
        else if (verb == QLatin1String("port")) box("textCommPort")->setText(action.argument);
        else if (verb == QLatin1String("address")) box("textAddress")->setText(action.argument);
        else if (verb == QLatin1String("data")) box("textReadData")->setText(action.argument);
        else if (verb == QLatin1String("file")) box("textNomeFile")->setText(fileBoxPath(action.argument));
        else if (verb == QLatin1String("answers")) {
            for (const QChar bit : action.argument)
                m_op.answerNext(bit == u'1');
        } else if (verb == QLatin1String("fault")) {
            BoardFaults faults = sim().board().faults();
            QString error;
            if (!faults.apply(action.argument, &error))
                fail(QStringLiteral("bad fault in the history: ") + error);
            sim().board().setFaults(faults);
        } else if (verb == QLatin1String("nofaults")) sim().board().setFaults({});
        else if (verb == QLatin1String("chunk")) sim().line().setReadChunk(action.argument.toInt());
        else if (verb == QLatin1String("stray")) {
            // Not into a running read: the program cannot tell such bytes from the chip's.
            if (sim().isOpen() && m_session.state().rxMode != RxMode::ReadToFile) {
                sim().board().sendUnasked(QByteArray::fromHex(action.argument.toLatin1()));
                sim().line().setReceiverReady(true);
            }
        } else if (verb == QLatin1String("lose")) {
            if (sim().isOpen())
                sim().losePort();
        } else if (verb != QLatin1String("wait")) {
            fail(QStringLiteral("unknown action in the history: ") + verb);
        }
    }

    void clickIfShown(const char *name)
    {
        QPushButton *b = button(name);
        if (b->isVisible())
            b->click();
    }

    void pressRead()
    {
        const QString text = box("textNomeFile")->text();
        const QFileInfo info(text);
        if (!text.isEmpty() && !info.isDir() && !text.endsWith(u'/') && button("Command6")->isEnabled()) {
            const QString key = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
            QFile file(text);
            ReadWatch watch{sim().wireFromBoard().size(), file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()};
            m_reads.insert(key, watch);
        }
        button("Command6")->click();
    }

    void check(int actionNumber, const SoakAction &action)
    {
        const QString where = QStringLiteral(" (after action %1, %2)").arg(actionNumber).arg(action.toText());
        const qint16 mode = m_session.state().rxMode;
        if (mode < RxMode::Idle || mode > RxMode::BlankCheck)
            fail(QStringLiteral("receive mode %1").arg(mode) + where);
        const QStringList texts = m_op.texts();
        for (; m_textsChecked < texts.size(); ++m_textsChecked)
            if (!Messages::isKnown(texts.at(m_textsChecked)))
                fail(QStringLiteral("a box said \"%1\"").arg(texts.at(m_textsChecked)) + where);
        const QHash<QString, QByteArray> files = snapshot();
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            const auto old = m_files.constFind(it.key());
            const bool changed = old == m_files.cend() ? !it.value().isEmpty() : old.value() != it.value();
            if (!changed)
                continue;
            const auto read = m_reads.constFind(it.key());
            if (read == m_reads.cend()) {
                fail(QStringLiteral("%1 changed, and no read was pointed at it").arg(it.key()) + where);
                continue;
            }
            const QString fault = readTargetFault(it.value(), read.value(), sim().wireFromBoard().mid(read->wireStart));
            if (!fault.isEmpty())
                fail(it.key() + QStringLiteral(": ") + fault + where);
        }
        for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
            if (!files.contains(it.key()))
                fail(QStringLiteral("%1 disappeared").arg(it.key()) + where);
        m_files = files;
    }

    // From whatever state the history left: stop, reconnect to a sound board, write and verify.
    void recover()
    {
        m_session.stop();
        QTest::qWait(600);  // a write that was told to stop runs into its time-out
        sim().board().setFaults({});
        sim().line().setReadChunk(4096);
        m_op.dropAnswers();
        button("Command1")->click();
        box("textCommPort")->setText(QStringLiteral("SIM"));
        button("Command2")->click();
        if (!QTest::qWaitFor([this] { return button("Command2")->text() == QLatin1String("CONNECTED !"); }, 5000))
            return fail(QStringLiteral("recovery: CONNECT to the sound board did not connect"));
        sim().board().chip().erase();
        // A file of its own: the history may have read over every image it was given.
        write(QStringLiteral("recovery.bin"), m_image);
        box("textNomeFile")->setText(m_dir.filePath(QStringLiteral("recovery.bin")));
        const qsizetype before = m_op.texts().size();
        QSignalSpy finished(&m_session, &Session::finished);
        button("Command3")->click();
        if (finished.isEmpty() || finished.last().first().value<OperationResult>().outcome != Outcome::Written)
            return fail(QStringLiteral("recovery: the write said ") + m_op.texts().mid(before).join(QStringLiteral(" | "))
                        + QStringLiteral(" [board state %1, acked %2, dropped %3, errors %4, to board %5 bytes, last %6]")
                              .arg(int(sim().board().state())).arg(sim().board().blocksAcknowledged())
                              .arg(sim().board().writesDropped()).arg(sim().board().protocolErrors().join(u';'))
                              .arg(sim().wireToBoard().size()).arg(QString::fromLatin1(sim().wireToBoard().right(12).toHex(' '))));
        finished.clear();
        button("Command7")->click();
        if ((finished.isEmpty() && !finished.wait(10000))
            || finished.last().first().value<OperationResult>().outcome != Outcome::Verified)
            return fail(QStringLiteral("recovery: the verify said ") + m_op.texts().mid(before).join(QStringLiteral(" | "))
                        + QStringLiteral(" [mode %1 at %2, verify button %3, board streaming %4 sent %5, errors %6]")
                              .arg(m_session.state().rxMode).arg(m_session.state().currentAddress)
                              .arg(button("Command7")->isEnabled()).arg(sim().board().streaming())
                              .arg(sim().wireFromBoard().size()).arg(sim().board().protocolErrors().join(u';').right(300)));
        if (sim().board().chip().contents() != m_image)
            fail(QStringLiteral("recovery: the chip does not hold the image after a verify that passed"));
    }

    const SoakHistory m_history;
    QTemporaryDir m_dir;
    QString m_previousDir;
    bool m_locked = false;
    QByteArray m_image;
    SelectingSerialControl m_port;
    ScriptedOperator m_op;
    Session m_session{m_port, m_op};
    Form1 m_form{m_session};
    QElapsedTimer m_clock;
    qint64 m_dueAt = 0;
    int m_next = 0;
    int m_depth = 0;
    bool m_done = false;
    QString m_failure;
    qsizetype m_textsChecked = 0;
    QHash<QString, QByteArray> m_files;
    QHash<QString, ReadWatch> m_reads;
};

} // namespace

SoakOutcome runHistory(const SoakHistory &history)
{
    Run run(history);
    return run.play();
}

#include "SoakRun.moc"
