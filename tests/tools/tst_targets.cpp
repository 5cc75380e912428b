// SPDX-License-Identifier: GPL-3.0-or-later
// romivo-cli's read targets: what a read leaves in place of the file it names, and the targets it
// refuses before the chip is read.
#include "CliProcess.h"
#include "Files.h"

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

    void aReadTargetWithoutRoomIsRefusedFirst()
    {
        // A HEX file that will not fit on its file system is refused before the chip is read.
        const QString small = at("small");
        QDir().mkpath(small);
        const Run read = cli({small}, {"unshare", "-m", "sh", "-c", "mount -t tmpfs -o size=16k tmpfs \"$1\" && exec \"$0\" --port SIM read \"$1/a.hex\""});
        const QString &errors = read.errors;
        // Without the right to a private mount (not root, or a locked-down container).
        if (errors.startsWith("unshare:") || errors.startsWith("mount:"))
            QSKIP(qPrintable("no private mount here: " + errors));
        QVERIFY2(read.status == 2 && errors.endsWith("a.hex: cannot be written: No space left on device\n"), qPrintable(errors));
    }

};

QTEST_GUILESS_MAIN(TestTargets)
#include "tst_targets.moc"
