// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QListWidget>

// The file list: every file of one directory, by name, with nothing selected after each change
// of directory. Emits fileClicked when the operator selects a file.
class FileList : public QListWidget {
    Q_OBJECT
public:
    explicit FileList(QWidget *parent = nullptr);

    QString path() const { return m_path; }
    // Lists the files of `path`; a directory that cannot be read shows no files.
    void setPath(const QString &path);
    // The selected file's name without its directory, empty when none is selected.
    QString fileName() const;

signals:
    void fileClicked();

private:
    QString m_path;
};
