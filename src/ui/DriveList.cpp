// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DriveList.h"

#include <QDir>
#include <QStorageInfo>

namespace {

QStringList driveRoots()
{
    QStringList roots;
#ifdef Q_OS_WIN
    for (const QFileInfo &drive : QDir::drives())
        roots.append(QDir::toNativeSeparators(drive.absolutePath()));
#else
    roots.append(QStringLiteral("/"));
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes())
        if (volume.isValid() && volume.isReady() && !roots.contains(volume.rootPath()))
            roots.append(volume.rootPath());
    std::sort(roots.begin() + 1, roots.end());
#endif
    return roots;
}

} // namespace

DriveList::DriveList(QWidget *parent) : QComboBox(parent)
{
    addItems(driveRoots());
    const QString start = driveOf(QDir::currentPath());
    if (findText(start) < 0)
        addItem(start);
    setDrive(start);
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (index == m_lastIndex)
            return;
        m_previous = itemText(m_lastIndex);
        m_lastIndex = index;
        emit driveChanged();
    });
}

void DriveList::setDrive(const QString &drive)
{
    const QSignalBlocker blocker(this);
    setCurrentIndex(findText(drive));
    m_lastIndex = currentIndex();
}

QString DriveList::driveOf(const QString &path)
{
    return QDir::toNativeSeparators(QStorageInfo(path).rootPath());
}

QString DriveList::currentDirectoryOf(const QString &drive)
{
    const QString working = QDir::currentPath();
    return driveOf(working) == drive ? QDir::toNativeSeparators(working) : drive;
}
