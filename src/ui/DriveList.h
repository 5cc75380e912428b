// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>

// The drive list: the roots of the file systems (drive letters on Windows, mount points
// elsewhere). Emits driveChanged when the operator chooses another entry.
class DriveList : public QComboBox {
    Q_OBJECT
public:
    explicit DriveList(QWidget *parent = nullptr);

    QString drive() const { return currentText(); }
    // The drive that was current before the operator's last choice.
    QString previousDrive() const { return m_previous; }
    // Makes `drive` current without announcing it (used to keep the previous drive).
    void setDrive(const QString &drive);
    // The directory a drive opens on: the program's working directory for the drive that holds
    // it, the root for any other.
    static QString currentDirectoryOf(const QString &drive);
    static QString driveOf(const QString &path);

signals:
    void driveChanged();

private:
    int m_lastIndex = -1;
    QString m_previous;
};
