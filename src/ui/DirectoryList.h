// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QListWidget>

// The directory list: the ancestors of the current directory down from the root, the current
// directory itself, and its subdirectories. Highlighting an entry changes nothing; opening it
// (double-click or Enter) makes it the current directory.
class DirectoryList : public QListWidget {
    Q_OBJECT
public:
    explicit DirectoryList(QWidget *parent = nullptr);

    // Absolute, native separators, ending in one only at the root.
    QString path() const { return m_path; }
    // Shows `path`; a directory that cannot be listed leaves everything as it was and returns
    // false. Emits pathChanged when the path changed.
    bool setPath(const QString &path);

signals:
    void pathChanged();

private:
    void openEntry(QListWidgetItem *item);
    bool fill(const QString &path);

    QString m_path;
};
