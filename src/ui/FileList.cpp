// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FileList.h"

#include <QDir>

FileList::FileList(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    // A click on the selected file counts too: it puts the name back after the box was edited.
    connect(this, &QListWidget::itemClicked, this, [this] { emit fileClicked(); });
    // The selection, not the current item: the focus passing through the list (Tab, a click on
    // its empty part) makes an item current without selecting it, and must leave the box alone.
    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        if (!selectedItems().isEmpty())
            emit fileClicked();
    });
}

void FileList::setPath(const QString &path)
{
    m_path = path;
    const QStringList files = QDir(path).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    const QSignalBlocker blocker(this);
    clear();
    addItems(files);
    setCurrentRow(-1);
    clearSelection();
}

QString FileList::fileName() const
{
    const QList<QListWidgetItem *> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}
