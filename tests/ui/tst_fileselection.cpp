#include "Window.h"

#include "ui/DirectoryList.h"
#include "ui/DriveList.h"
#include "ui/FileList.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

void touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

QListWidgetItem *entryNamed(QListWidget *list, const QString &name)
{
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text().trimmed() == name)
            return list->item(i);
    return nullptr;
}

// As the operator's choice in the drop-down: the entry becomes current, then is announced.
void choose(QComboBox *combo, int index)
{
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// Where an entry is on the screen once the list has been laid out again.
QPoint centreOf(QListWidget *list, QListWidgetItem *item)
{
    list->doItemsLayout();
    return list->visualItemRect(item).center();
}

QStringList entries(QListWidget *list)
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text().trimmed();
    return names;
}

} // namespace

class TestFileSelection : public QObject {
    Q_OBJECT
private slots:
    void init();
    void startsOnWorkingDirectoryWithEmptyBox();
    void openingDirectoryThenClickingFileComposesPath();
    void highlightingADirectoryChangesNothing();
    void rootGivesDoubledSeparator();
    void everyFileListedWithoutFilter();
    void typedTextUsedUntilAListOverwritesIt();
    void focusPassingThroughTheFileListKeepsTheTypedPath();
    void vanishedDirectoryKeepsListsConsistent();
    void unreadableDriveKeepsPreviousDrive();

private:
    std::unique_ptr<QTemporaryDir> m_tree;
    QString m_root;
};

void TestFileSelection::init()
{
    m_tree = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tree->isValid());
    m_root = QDir(m_tree->path()).canonicalPath();
    QVERIFY(QDir(m_root).mkpath(QStringLiteral("lavori/dati")));
    QVERIFY(QDir(m_root).mkpath(QStringLiteral("lavori/vecchi")));
    touch(m_root + QStringLiteral("/lavori/dati/rom.bin"));
    touch(m_root + QStringLiteral("/lavori/dati/bios.hex"));
    touch(m_root + QStringLiteral("/lavori/dati/LEGGIMI"));
    touch(m_root + QStringLiteral("/lavori/note.txt"));
}

void TestFileSelection::startsOnWorkingDirectoryWithEmptyBox()
{
    Window w;
    auto *dir1 = w.get<DirectoryList>("Dir1");
    auto *file1 = w.get<FileList>("File1");
    auto *drive1 = w.get<DriveList>("Drive1");
    QCOMPARE(dir1->path(), QDir::toNativeSeparators(QDir::currentPath()));
    QCOMPARE(file1->path(), dir1->path());
    QCOMPARE(file1->fileName(), QString());
    QCOMPARE(drive1->drive(), DriveList::driveOf(QDir::currentPath()));
    QCOMPARE(w.box("textNomeFile")->text(), QString());
    // The current directory is the highlighted entry, after its ancestors.
    QCOMPARE(dir1->currentItem()->text().trimmed(), QFileInfo(QDir::currentPath()).fileName());
    QCOMPARE(dir1->item(0)->text(), QDir::toNativeSeparators(QDir::rootPath()));
}

void TestFileSelection::openingDirectoryThenClickingFileComposesPath()
{
    Window w;
    auto *dir1 = w.get<DirectoryList>("Dir1");
    auto *file1 = w.get<FileList>("File1");
    QVERIFY(dir1->setPath(m_root + QStringLiteral("/lavori")));
    QCOMPARE(w.box("textNomeFile")->text(), m_root + QStringLiteral("/lavori/"));

    // Opening an entry with Enter, as with a double-click.
    w.form.show();
    dir1->setFocus();
    dir1->setCurrentItem(entryNamed(dir1, QStringLiteral("dati")));
    QTest::keyClick(dir1->viewport(), Qt::Key_Return);
    QCOMPARE(dir1->path(), m_root + QStringLiteral("/lavori/dati"));
    QCOMPARE(file1->path(), dir1->path());
    QCOMPARE(w.box("textNomeFile")->text(), m_root + QStringLiteral("/lavori/dati/"));

    QListWidgetItem *rom = entryNamed(file1, QStringLiteral("rom.bin"));
    QVERIFY(rom);
    QTest::mouseClick(file1->viewport(), Qt::LeftButton, {}, centreOf(file1, rom));
    QCOMPARE(w.box("textNomeFile")->text(), m_root + QStringLiteral("/lavori/dati/rom.bin"));

    // Going up by an ancestor entry: the box holds the directory and a separator again.
    QListWidgetItem *up = entryNamed(dir1, QStringLiteral("lavori"));
    dir1->setCurrentItem(up);
    QTest::keyClick(dir1->viewport(), Qt::Key_Enter);
    QCOMPARE(dir1->path(), m_root + QStringLiteral("/lavori"));
    QCOMPARE(w.box("textNomeFile")->text(), m_root + QStringLiteral("/lavori/"));
    QCOMPARE(entries(file1), QStringList{"note.txt"});
}

void TestFileSelection::highlightingADirectoryChangesNothing()
{
    Window w;
    auto *dir1 = w.get<DirectoryList>("Dir1");
    QVERIFY(dir1->setPath(m_root + QStringLiteral("/lavori")));
    w.form.show();
    QListWidgetItem *dati = entryNamed(dir1, QStringLiteral("dati"));
    QTest::mouseClick(dir1->viewport(), Qt::LeftButton, {}, centreOf(dir1, dati));
    QCOMPARE(dir1->path(), m_root + QStringLiteral("/lavori"));
    QCOMPARE(w.get<FileList>("File1")->path(), m_root + QStringLiteral("/lavori"));
    QCOMPARE(w.box("textNomeFile")->text(), m_root + QStringLiteral("/lavori/"));
}

void TestFileSelection::rootGivesDoubledSeparator()
{
    Window w;
    auto *dir1 = w.get<DirectoryList>("Dir1");
    QVERIFY(dir1->setPath(QStringLiteral("/")));
    QCOMPARE(dir1->path(), QStringLiteral("/"));
    QCOMPARE(w.box("textNomeFile")->text(), QStringLiteral("//"));
    QCOMPARE(dir1->count() > 1, true);
    QCOMPARE(dir1->item(0)->text(), QStringLiteral("/"));
}

void TestFileSelection::focusPassingThroughTheFileListKeepsTheTypedPath()
{
    Window w;
    w.form.show();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    auto *file1 = w.get<FileList>("File1");
    QVERIFY(w.get<DirectoryList>("Dir1")->setPath(m_root + QStringLiteral("/lavori/dati")));
    QLineEdit *box = w.box("textNomeFile");
    box->setFocus();
    box->selectAll();
    const QString typed = QStringLiteral("/mnt/usb/firmware.bin");
    QTest::keyClicks(box, typed);

    // Tab into the list and on, Shift+Tab back into it, a click on its empty part.
    for (int i = 0; i < 30 && !file1->hasFocus(); ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(file1->hasFocus());
    QTest::keyClick(file1, Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QVERIFY(file1->hasFocus());
    QTest::mouseClick(file1->viewport(), Qt::LeftButton, {}, QPoint(5, file1->viewport()->height() - 3));
    QCOMPARE(box->text(), typed);

    // Choosing a file with the keyboard is a selection: the box takes it.
    QTest::keyClick(file1, Qt::Key_Down);
    QVERIFY(!file1->fileName().isEmpty());
    QCOMPARE(box->text(), m_root + QStringLiteral("/lavori/dati/") + file1->fileName());
}

void TestFileSelection::everyFileListedWithoutFilter()
{
    Window w;
    auto *dir1 = w.get<DirectoryList>("Dir1");
    QVERIFY(dir1->setPath(m_root + QStringLiteral("/lavori/dati")));
    QCOMPARE(entries(w.get<FileList>("File1")), (QStringList{"bios.hex", "LEGGIMI", "rom.bin"}));
    // Subdirectories go to the directory list, not the file list.
    QVERIFY(dir1->setPath(m_root + QStringLiteral("/lavori")));
    QVERIFY(entryNamed(dir1, QStringLiteral("dati")));
    QVERIFY(entryNamed(dir1, QStringLiteral("vecchi")));
    QVERIFY(!entryNamed(dir1, QStringLiteral("note.txt")));
}

void TestFileSelection::typedTextUsedUntilAListOverwritesIt()
{
    Window w;
    auto *dir1 = w.get<DirectoryList>("Dir1");
    auto *file1 = w.get<FileList>("File1");
    QVERIFY(dir1->setPath(m_root + QStringLiteral("/lavori/dati")));
    w.form.show();
    QListWidgetItem *rom = entryNamed(file1, QStringLiteral("rom.bin"));
    QTest::mouseClick(file1->viewport(), Qt::LeftButton, {}, centreOf(file1, rom));
    w.box("textNomeFile")->setText(QStringLiteral("/altrove/immagine.bin"));
    QCOMPARE(w.box("textNomeFile")->text(), QStringLiteral("/altrove/immagine.bin"));
    // A click on the file that is already selected puts its path back.
    QTest::mouseClick(file1->viewport(), Qt::LeftButton, {}, centreOf(file1, rom));
    QCOMPARE(w.box("textNomeFile")->text(), m_root + QStringLiteral("/lavori/dati/rom.bin"));
}

void TestFileSelection::vanishedDirectoryKeepsListsConsistent()
{
    Window w;
    auto *dir1 = w.get<DirectoryList>("Dir1");
    auto *file1 = w.get<FileList>("File1");
    QVERIFY(dir1->setPath(m_root + QStringLiteral("/lavori")));
    QVERIFY(QDir(m_root + QStringLiteral("/lavori/vecchi")).removeRecursively());
    w.form.show();
    QListWidgetItem *gone = entryNamed(dir1, QStringLiteral("vecchi"));
    QVERIFY(gone);
    emit dir1->itemActivated(gone);
    QCOMPARE(dir1->path(), m_root + QStringLiteral("/lavori"));
    QCOMPARE(file1->path(), dir1->path());
    QVERIFY(!entryNamed(dir1, QStringLiteral("vecchi")));
    QVERIFY(!dir1->setPath(m_root + QStringLiteral("/nowhere")));
    QVERIFY(!dir1->setPath(m_root + QStringLiteral("/lavori/note.txt")));
    QCOMPARE(dir1->path(), m_root + QStringLiteral("/lavori"));
    QCOMPARE(w.box("textNomeFile")->text(), m_root + QStringLiteral("/lavori/"));
}

void TestFileSelection::unreadableDriveKeepsPreviousDrive()
{
    Window w;
    auto *drive1 = w.get<DriveList>("Drive1");
    auto *dir1 = w.get<DirectoryList>("Dir1");
    const QString before = drive1->drive();
    const QString path = dir1->path();
    // A drive that has gone away since the list was made (a pulled memory card).
    drive1->addItem(m_root + QStringLiteral("/card"));
    choose(drive1, drive1->count() - 1);
    QCOMPARE(drive1->drive(), before);
    QCOMPARE(dir1->path(), path);
    QCOMPARE(w.box("textNomeFile")->text(), QString());

    // A drive that can be read: the lists move to it and the box follows.
    drive1->addItem(m_root);
    choose(drive1, drive1->count() - 1);
    QCOMPARE(dir1->path(), m_root);
    QCOMPARE(w.get<FileList>("File1")->path(), m_root);
    QCOMPARE(w.box("textNomeFile")->text(), m_root + QStringLiteral("/"));
}

QTEST_MAIN(TestFileSelection)
#include "tst_fileselection.moc"
