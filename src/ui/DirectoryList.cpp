// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DirectoryList.h"

#include <QDir>
#include <QFileInfo>

namespace {
constexpr int PathRole = Qt::UserRole;
}

DirectoryList::DirectoryList(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemActivated, this, &DirectoryList::openEntry);
}

bool DirectoryList::setPath(const QString &path)
{
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    if (!fill(clean))
        return false;
    const QString native = QDir::toNativeSeparators(clean);
    if (native == m_path)
        return true;
    m_path = native;
    emit pathChanged();
    return true;
}

void DirectoryList::openEntry(QListWidgetItem *item)
{
    if (!item)
        return;
    // An entry that has gone since the list was drawn: show what is there now.
    if (!setPath(item->data(PathRole).toString()))
        fill(QDir::fromNativeSeparators(m_path));
}

bool DirectoryList::fill(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isDir() || !info.isReadable())
        return false;
    QDir dir(path);
    const QStringList children = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    if (!dir.exists())
        return false;

    // The chain of ancestors, root first.
    QStringList chain;
    for (QDir step(path);; ) {
        chain.prepend(step.absolutePath());
        if (step.isRoot() || !step.cdUp())
            break;
    }

    const QSignalBlocker blocker(this);
    clear();
    int depth = 0;
    QListWidgetItem *current = nullptr;
    for (const QString &ancestor : chain) {
        const QString name = QDir(ancestor).isRoot() ? QDir::toNativeSeparators(ancestor) : QFileInfo(ancestor).fileName();
        auto *item = new QListWidgetItem(QString(depth * 2, u' ') + name, this);
        item->setData(PathRole, ancestor);
        current = item;
        ++depth;
    }
    for (const QString &child : children) {
        auto *item = new QListWidgetItem(QString(depth * 2, u' ') + child, this);
        item->setData(PathRole, dir.absoluteFilePath(child));
    }
    setCurrentItem(current);
    return true;
}
