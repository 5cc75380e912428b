// SPDX-License-Identifier: GPL-3.0-or-later
// Seeded random histories of clicks, typed texts, answers, board faults and files played on the
// main window over the software board, checking after every action what must always hold, then
// recovering to a correct write and verify. ROMIVO_SOAK_HISTORIES, ROMIVO_SOAK_LENGTH and
// ROMIVO_SOAK_SEED run more, longer or other histories.
#include "operations/ImageFormats.h"
#include "operations/Messages.h"
#include "Files.h"
#include "Window.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Whether a text is one of the program's messages, whatever their details.
bool isKnownMessage(const QString &text)
{
    for (int id = 0; id <= int(MessageId::Stalled); ++id) {
        QString pattern = QRegularExpression::escape(Messages::text(MessageId(id), {"\x01", "\x02", -7777}));
        pattern.replace(QStringLiteral("\\\x01"), ".*").replace(QStringLiteral("\\\x02"), ".*").replace("\\-7777", "-?\\d+");
        if (QRegularExpression(QRegularExpression::anchoredPattern(pattern), QRegularExpression::DotMatchesEverythingOption).match(text).hasMatch())
            return true;
    }
    return false;
}

// One action a line: a verb, then its argument (%1 a block, %2 a location, %3 a byte when drawn).
const QStringList Files = {"image.bin", "short.bin", "empty.bin", "long.bin", "missing.bin", "dir", "dir/", "locked.bin", "out.bin", "image.hex"};

QStringList randomHistory(quint32 seed, int length)
{
    QRandomGenerator random(seed);
    const QStringList odd = {"", QString(4000, u'9'), "-70000", "àé€ 漢字 \u0001", "32767.5", "abc"};  // awkward typing
    const std::tuple<int, QString, QStringList> verbs[] = {
        {10, "write", {}}, {8, "read", {}}, {8, "verify", {}}, {6, "blank", {}}, {4, "connect", {}}, {3, "disconnect", {}},
        {3, "service", {}}, {3, "position", {}}, {3, "readdata", {}}, {3, "writedata", {}}, {3, "nofaults", {}}, {2, "stray", {}},
        {2, "lose", {}}, {4, "port", odd + QStringList{"SIM", " sim ", "SIM", "0", "/nonexistent/tty", "/dev/null"}},
        {3, "address", odd + QStringList{"300", "32767", "-255", "65535"}}, {3, "data", odd + QStringList{"0", "255", "2.5", "256"}},
        {9, "file", Files + Files + QStringList{"rel name.bin", ""}}, {5, "answers", {"0", "1", "01", "10", "110"}},
        {8, "fault", {"no-dsr", "silent-after-block=%1", "0x62-during-block=%1", "0x63-during-block=%1", "0x62-for-ack=%1",
                      "0x63-for-ack=%1", "short-stream=%2", "long-stream=%3", "stray=0d62ff", "stuck=%2:%3"}},
        {3, "chunk", {"1", "3", "512", "777", "4096", "%2"}}, {7, "wait", {"0", "20", "150", "399"}}};
    QStringList history;
    if (random.bounded(4) != 0)  // most histories begin connected, or little would run
        history << "port SIM" << "connect";
    while (history.size() < length) {
        int roll = int(random.bounded(100));
        for (const auto &[weight, verb, arguments] : verbs) {
            if ((roll -= weight) >= 0)
                continue;
            QString argument = arguments.isEmpty() ? QString() : arguments.at(int(random.bounded(arguments.size())));
            argument.replace("%1", QString::number(random.bounded(64))).replace("%2", QString::number(random.bounded(1, 32768)));
            history << verb + u' ' + argument.replace("%3", QString::number(random.bounded(1, 256)));
            break;
        }
    }
    return history;
}

class Run : Window {
public:
    explicit Run(const QStringList &history) : m_history(history)
    {
        QDir::setCurrent(m_dir.path());  // relative names typed into the box land here
        QDir(m_dir.path()).mkdir("dir");
        const std::pair<QString, QByteArray> files[] = {{"image.bin", m_image}, {"short.bin", m_image.left(100)}, {"empty.bin", {}},
            {"long.bin", m_image + QByteArray(7232, '\x11')}, {"out.bin", QByteArray(40000, '\xa5')}, {"locked.bin", m_image},
            {"image.hex", ":10000000000102030405060708090A0B0C0D0E0F78\n:00000001FF\n"}, {"dir/inner.bin", m_image.left(10)}};
        for (const auto &[name, bytes] : files)
            writeFile(m_dir.filePath(name), bytes);
        m_locked = std::make_unique<Immutable>(m_dir.filePath("locked.bin"));
        session.service().setPause([](int) {});  // the program's one blocking wait, made instant
        form.show();
        m_files = snapshot();
    }
    ~Run() { QDir::setCurrent(m_previousDir); }

    // Plays the history, an action every 5 ms unless it waits longer, each from a timer so that
    // actions land inside the operations' own event loops too: the failure, or nothing.
    QString play()
    {
        QTimer::singleShot(180000, &m_loop, &QEventLoop::quit);
        m_clock.start();
        schedule(0);
        m_loop.exec();
        if (!finished())
            fail(QStringLiteral("a handler never returned (%1 still running)").arg(m_depth));
        if (m_failure.isEmpty())
            recover();
        return m_failure;
    }

private:
    QHash<QString, QByteArray> snapshot() const
    {
        QHash<QString, QByteArray> files;
        for (QDirIterator it(m_dir.path(), QDir::Files | QDir::System, QDirIterator::Subdirectories); it.hasNext();) {
            QFile file(QFileInfo(it.next()).canonicalFilePath());
            files.insert(file.fileName(), file.open(QIODevice::ReadOnly) ? file.readAll() : "<unreadable>");
        }
        return files;
    }
    void fail(const QString &why)
    {
        if (m_failure.isEmpty())
            m_failure = why;
        m_loop.quit();
    }
    bool finished() const { return m_next > m_history.size() && m_depth == 0; }
    void schedule(int delayMs)
    {
        m_dueAt = m_clock.elapsed() + delayMs;
        QTimer::singleShot(delayMs, &m_loop, [this] { step(); });
    }
    void step()
    {
        if (!m_failure.isEmpty())
            return;
        // A handler that blocks without serving events makes the next action late.
        if (const qint64 late = m_clock.elapsed() - m_dueAt; late > 1500)
            fail(QStringLiteral("the event loop went unserved for %1 ms before action %2").arg(late).arg(m_next + 1));
        if (m_next++ == m_history.size()) {  // the end: stop whatever runs, from wherever the program is
            session.stop();
            return m_loop.quit();
        }
        const QString line = m_history.at(m_next - 1), verb = line.section(u' ', 0, 0), argument = line.section(u' ', 1);
        schedule(verb == "wait" ? argument.toInt() : 5);
        ++m_depth;
        perform(verb, argument);
        --m_depth;
        check(QStringLiteral(" (after action %1, %2)").arg(m_next).arg(line));
        if (finished())
            m_loop.quit();
    }

    void perform(const QString &verb, const QString &argument)
    {
        const QHash<QString, const char *> buttons = {{"write", "Command3"}, {"verify", "Command7"}, {"blank", "Command8"},
            {"connect", "Command2"}, {"disconnect", "Command1"}, {"position", "buttonPompoClock"}, {"readdata", "buttonReadData"},
            {"writedata", "buttonWriteData"}};
        const QHash<QString, const char *> boxes = {{"port", "textCommPort"}, {"address", "textAddress"}, {"data", "textReadData"}};
        BoardFaults faults = sim().board().faults();
        if (buttons.contains(verb) && button(buttons[verb])->isVisible())
            button(buttons[verb])->click();
        else if (boxes.contains(verb))
            box(boxes[verb])->setText(argument);
        else if (verb == "file")
            box("textNomeFile")->setText(Files.contains(argument) ? m_dir.filePath(argument) : argument);
        else if (verb == "read")
            pressRead();
        else if (verb == "service")
            form.menuService_Click();
        else if (verb == "answers")
            for (const QChar bit : argument)
                op.answers << (bit == u'1');
        else if (verb == "fault" && !faults.apply(argument, nullptr))
            fail("bad fault in the history: " + argument);
        else if (verb == "fault" || verb == "nofaults")
            sim().board().setFaults(verb == "fault" ? faults : BoardFaults{});
        else if (verb == "chunk")
            sim().line().setReadChunk(argument.toInt());
        else if (verb == "stray" && sim().isOpen() && session.state().rxMode != RxMode::ReadToFile)
            sim().board().sendUnasked("\x0d");  // not into a read: no program could tell them from the chip's
        else if (verb == "lose" && sim().isOpen())
            sim().losePort();
    }

    // A read may change its target only by writing there, from its start, what the board sent (a HEX
    // file: a whole chip the board sent, in its format).
    void pressRead()
    {
        const QString text = box("textNomeFile")->text();
        const QFileInfo info(text);
        QFile file(text);
        if (!text.isEmpty() && !info.isDir() && !text.endsWith(u'/') && button("Command6")->isEnabled())
            m_reads[info.exists() ? info.canonicalFilePath() : info.absoluteFilePath()] = {
                sim().wireFromBoard().size(), file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()};
        button("Command6")->click();
    }

    void check(const QString &where)
    {
        const int mode = int(session.state().rxMode);
        if (mode < int(RxMode::Idle) || mode > int(RxMode::BlankCheck))
            fail(QStringLiteral("receive mode %1").arg(mode) + where);
        for (const QString &text : op.texts().mid(m_textsChecked))
            if (!isKnownMessage(text))
                fail("a box said \"" + text + '"' + where);
        m_textsChecked = op.texts().size();
        const QHash<QString, QByteArray> files = snapshot();
        for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
            if (!files.contains(it.key()))
                fail(it.key() + " disappeared" + where);
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            const QByteArray &now = it.value();
            if (now == m_files.value(it.key()))  // a new empty file (a write's missing image) is no change
                continue;
            if (!m_reads.contains(it.key())) {
                fail(it.key() + " changed, and no read was pointed at it" + where);
                continue;
            }
            const auto &[wireStart, old] = m_reads[it.key()];
            const QByteArray wire = sim().wireFromBoard().mid(wireStart);
            if (ImageFormats::formatOf(it.key()) != ImageFormats::Format::Raw) {  // replaced whole, by a chip the board sent
                const ImageFormats::Parsed read = ImageFormats::parse(it.key(), now);
                if (!read.ok() || !wire.contains(read.image))
                    fail(it.key() + " holds what the board did not send" + where);
                continue;
            }
            qsizetype received = 0, lastChange = qMax(now.size(), old.size()) - 1;
            while (received < qMin(now.size(), qMin(wire.size(), qsizetype(32768))) && now[received] == wire[received])
                ++received;
            while (lastChange >= 0 && lastChange < qMin(now.size(), old.size()) && now[lastChange] == old[lastChange])
                --lastChange;
            if (now.size() < old.size() || lastChange >= received)
                fail(it.key() + QStringLiteral(" holds at offset %1 a byte the board did not send there (%2 bytes match the board's)")
                                    .arg(lastChange).arg(received) + where);
        }
        m_files = files;
    }

    // From whatever state the history left: stop, reconnect to a sound board, write and verify.
    void recover()
    {
        session.stop();
        QTest::qWait(600);  // a write that was told to stop runs into its time-out
        sim().board().setFaults({});
        sim().line().setReadChunk(4096);
        op.answers.clear();
        button("Command1")->click();
        if (!connectSim())
            return fail("recovery: CONNECT to the sound board did not connect");
        sim().board().chip().erase();
        writeFile(m_dir.filePath("recovery.bin"), m_image);  // the history may have read over every image it was given
        box("textNomeFile")->setText(m_dir.filePath("recovery.bin"));
        QSignalSpy finished(&session, &Session::finished);
        button("Command3")->click();
        button("Command7")->click();
        QList<Outcome> outcomes;
        while (outcomes.size() < 2 && (finished.size() > outcomes.size() || finished.wait(10000)))
            outcomes << finished.at(outcomes.size()).first().value<OperationResult>().outcome;
        if (outcomes != QList<Outcome>{Outcome::Written, Outcome::Verified} || sim().board().chip().contents() != m_image)
            fail("recovery: no correct write and verify; the boxes said " + op.texts().join(" | ").right(300));
    }

    const QStringList m_history;
    const QString m_previousDir = QDir::currentPath();
    QTemporaryDir m_dir;
    const QByteArray m_image = randomImage(32768, 1);
    std::unique_ptr<Immutable> m_locked;
    QEventLoop m_loop;
    QElapsedTimer m_clock;
    qint64 m_dueAt = 0;
    int m_next = 0, m_depth = 0;
    QString m_failure;
    qsizetype m_textsChecked = 0;
    QHash<QString, QByteArray> m_files;
    QHash<QString, std::pair<qsizetype, QByteArray>> m_reads;
};

QString failureOf(const QStringList &history) { return Run(history).play(); }

} // namespace

class TestSoak : public QObject {
    Q_OBJECT
private slots:
    void randomHistories()
    {
        const auto number = [](const char *name, int fallback) { return qEnvironmentVariableIsSet(name) ? qEnvironmentVariableIntValue(name) : fallback; };
        const int count = number("ROMIVO_SOAK_HISTORIES", 20), length = number("ROMIVO_SOAK_LENGTH", 40), first = number("ROMIVO_SOAK_SEED", 1);
        // Histories that once failed: a write stopped by the end of the history; a read into a HEX
        // file that wrote raw bytes over its start.
        QCOMPARE(failureOf({"port SIM", "connect", "file short.bin", "write"}), QString());
        QCOMPARE(failureOf({"port SIM", "connect", "file image.hex", "read", "wait 399"}), QString());
        for (int seed = first; seed < first + count; ++seed) {
            const QStringList history = randomHistory(quint32(seed), length);
            const QString failure = failureOf(history);
            QVERIFY2(failure.isEmpty(), qPrintable(QStringLiteral("seed %1: %2\nhistory:\n%3").arg(seed).arg(failure, history.join(u'\n'))));
        }
    }
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
