// SPDX-License-Identifier: GPL-3.0-or-later
// romivo-cli's read targets: what a read leaves in place of the file it names, and the targets it
// refuses before the chip is read.
#include "BoardProcess.h"
#include "CliProcess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestTargets : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString at(const QString &name) const { return dir.filePath(name); }

private slots:
    void readReplacesTheFileAsItWas_data()
    {
        // The chip takes the target's place as that file: its owner, group and mode kept; the
        // file a symbolic link names replaced, the link kept; a hard-linked file written in place,
        // so that its other name sees the chip; another user's file in a sticky folder, which
        // only its owner may rename over, written in place by a user who may write it.
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("kept");  // the target's owner:group and mode after the read
        QTest::newRow("owned by another") << "owned" << "1234:1234 640";
        QTest::newRow("symbolic link") << "symlink" << "0:0 640";
        QTest::newRow("hard link") << "link" << "0:0 640";
        QTest::newRow("another's file in a sticky folder") << "sticky" << "0:0 666";
        QTest::newRow("a name as long as the file system takes") << "long" << "0:0 640";
    }
    void readReplacesTheFileAsItWas()
    {
        QFETCH(QString, kind);
        QFETCH(QString, kept);
        QTemporaryDir scratch;  // others may pass through it, into a sticky tmp/
        QVERIFY(::chmod(qPrintable(scratch.path()), 0701) == 0 && QDir(scratch.path()).mkdir("tmp") && ::chmod(qPrintable(scratch.filePath("tmp")), 01777) == 0);
        const QString target = scratch.filePath(kind == "sticky" ? "tmp/t.bin" : kind == "long" ? QString(255, u'n') : "t.bin"), other = scratch.filePath("other.bin");
        writeFile(kind == "symlink" ? other : target, "older");
        QVERIFY(kind != "symlink" || QFile::link("other.bin", target));
        QVERIFY(kind != "link" || ::link(qPrintable(target), qPrintable(other)) == 0);
        const uid_t owner = kind == "owned" ? 1234 : 0;
        QVERIFY(::chown(qPrintable(target), owner, owner) == 0 && ::chmod(qPrintable(target), kind == "sticky" ? 0666 : 0640) == 0);
        const Run read = cli({"--port", "SIM", "read", target}, kind == "sticky" ? QStringList{"setpriv", "--reuid", "1234", "--regid", "1234", "--clear-groups"} : QStringList{});
        QVERIFY2(read.status == 0, qPrintable(read.errors));
        QCOMPARE(readFile(target), erased());  // the simulated chip
        QCOMPARE(readFile(other), kind == "symlink" || kind == "link" ? erased() : QByteArray());
        QCOMPARE(QFileInfo(target).isSymLink(), kind == "symlink");
        struct stat info;
        QVERIFY(::stat(qPrintable(target), &info) == 0);
        QCOMPARE(QString::asprintf("%u:%u %o", info.st_uid, info.st_gid, info.st_mode & 07777), kept);
    }

    void aTargetThatWillNotDoIsRefusedFirst_data()
    {
        // Each target is made on a small file system of its own, beside v.bin ("older"), which the
        // refused read must leave alone: a HEX file that will not fit; a hard-linked file, written
        // in place, that would be left half-written; another user's link in a sticky folder, which
        // the kernel does not follow for root (fs.protected_symlinks), to a file of root's.
        QTest::addColumn<QString>("size");  // of the file system
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a HEX file without room") << "16k" << "true" << "a.hex" << "No space left on device";
        QTest::newRow("a hard-linked file without room") << "64k" << "ln v.bin t.bin && head -c 40960 /dev/zero >fill" << "t.bin" << "No space left on device";
        QTest::newRow("another user's link in a sticky folder")
            << "1m" << "mkdir -m 1777 tmp && chown 1235 tmp && ln -s ../v.bin tmp/x.bin && chown -h 1234 tmp/x.bin" << "tmp/x.bin" << "Permission denied";
    }
    void aTargetThatWillNotDoIsRefusedFirst()
    {
        QFETCH(QString, size);
        QFETCH(QString, setup);
        QFETCH(QString, target);
        QFETCH(QString, reason);
        if (target == "tmp/x.bin" && readFile("/proc/sys/fs/protected_symlinks").trimmed() != "1")
            QSKIP("fs.protected_symlinks is off here: the kernel follows every link");
        const QString small = at("small");
        QDir().mkpath(small);
        const QString script = "mount -t tmpfs -o size=%1 tmpfs \"$1\" && cd \"$1\" && printf older >v.bin && %2 || exit 99; "
                               "\"$0\" --port SIM read %3; s=$?; [ \"$(cat v.bin)\" = older ] || echo v.bin changed >&2; exit $s";
        const Run read = cli({small}, {"unshare", "-m", "sh", "-c", script.arg(size, setup, target)});
        const QString &errors = read.errors;
        // Without the right to a private mount (not root, or a locked-down container).
        if (errors.startsWith("unshare:") || errors.startsWith("mount:"))
            QSKIP(qPrintable("no private mount here: " + errors));
        QVERIFY2(read.status == 2 && errors.endsWith(target + ": cannot be written: " + reason + "\n"), qPrintable(errors));
    }

    void aTargetSwappedForAFifoDuringTheReadIsLeftAlone_data()
    {
        QTest::addColumn<bool>("read");  // by the test: romivo-cli's open then succeeds
        QTest::newRow("a FIFO nobody reads") << false;
        QTest::newRow("a FIFO someone reads") << true;
    }
    void aTargetSwappedForAFifoDuringTheReadIsLeftAlone()
    {
        // The board is held until the target, found fine, has become a FIFO: the finished read
        // must neither wait for a reader nor write into it.
        QFETCH(bool, read);
        BoardProcess board;
        board.signal(SIGSTOP);
        const QString target = writeFile(at(read ? "read.bin" : "unread.bin"), "older"), trace = target + ".trace";
        QFile reader(target);
        bool swapped = false;
        QElapsedTimer clock;
        const Run run = cli({"--port", board.path(), "--trace", trace, "read", target}, {}, 0, [&](QProcess &) {
            // A command on its way to the board: the target has been tried.
            swapped = QTest::qWaitFor([&] { return readFile(trace).contains(" > "); }, 10000) && QFile::remove(target)
                      && ::mkfifo(qPrintable(target), 0644) == 0
                      && (!read || reader.open(::open(qPrintable(target), O_RDONLY | O_NONBLOCK | O_CLOEXEC), QIODevice::ReadOnly, QFile::AutoCloseHandle));
            board.signal(SIGCONT);
            clock.start();
        });
        QVERIFY(swapped);
        QVERIFY2(run.status == 2 && run.errors.endsWith(target + ": not a regular file; not replaced\n"), qPrintable(run.errors));
        QCOMPARE_LT(clock.elapsed(), 10000);
        QVERIFY(!read || reader.read(1).isEmpty());  // nothing written into it
        struct stat info;
        QVERIFY(::lstat(qPrintable(target), &info) == 0 && S_ISFIFO(info.st_mode));
    }

    void aNewFileIsOnTheDiskBeforeItTakesTheName_data()
    {
        QTest::addColumn<bool>("existed");
        QTest::newRow("a file replaced") << true;
        QTest::newRow("a file made") << false;
    }
    void aNewFileIsOnTheDiskBeforeItTakesTheName()
    {
        // Renamed before its bytes reach the disk, a power cut could leave an empty target.
        QFETCH(bool, existed);
        const QString strace = QStandardPaths::findExecutable("strace");
        if (strace.isEmpty())
            QSKIP("strace is not installed");
        const QString target = at(existed ? "synced.bin" : "made.bin"), log = at("calls.log");
        if (existed)
            writeFile(target, "older");
        // (LeakSanitizer cannot work under ptrace.)
        const QString asan = QStringList{qEnvironmentVariable("ASAN_OPTIONS"), "detect_leaks=0"}.join(u':');
        const Run read = cli({"--port", "SIM", "read", target},
                             {strace, "-f", "-qq", "-y", "-E", "ASAN_OPTIONS=" + asan, "-o", log, "-e", "trace=fsync,fdatasync,rename,renameat,renameat2"});
        if (read.status != 0 && read.errors.startsWith("strace:"))
            QSKIP(qPrintable("strace cannot trace here: " + read.errors));
        QVERIFY2(read.status == 0, qPrintable(read.errors));
        const QString calls = QString::fromUtf8(readFile(log));
        // rename("…/NAME.XXXXXX", "…/NAME") or renameat2(AT_FDCWD</…>, …), after fsync(N</…/NAME.XXXXXX>).
        const QRegularExpression renamed("rename\\w*\\([^\"]*\"[^\"]*/([^\"/]+)\", [^\"]*\"[^\"]*/" + QFileInfo(target).fileName() + "\"");
        const QRegularExpressionMatch renaming = renamed.match(calls);
        QVERIFY2(renaming.hasMatch(), qPrintable(calls));
        const QRegularExpression synced("f(data)?sync\\(\\d+<[^>]*/" + QRegularExpression::escape(renaming.captured(1)) + ">\\) = 0");
        QVERIFY2(calls.left(renaming.capturedStart()).contains(synced), qPrintable(calls));
    }

};

QTEST_GUILESS_MAIN(TestTargets)
#include "tst_targets.moc"
