// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The files named on the command line are regular files or refused: a FIFO would hold the board
// in its open until a writer came, a device or a socket is no chip, log or firmware.
#include <QFile>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RegularFile {

// Why a file of this kind cannot be used; empty for a regular file.
inline QString refusal(mode_t mode)
{
    if (S_ISREG(mode))
        return {};
    const char *kind = S_ISDIR(mode) ? "a directory" : S_ISFIFO(mode) ? "a FIFO" : S_ISSOCK(mode) ? "a socket"
                     : S_ISCHR(mode) || S_ISBLK(mode) ? "a device" : "something";
    return QStringLiteral("%1, not a regular file").arg(QLatin1String(kind));
}

// Empty when `path` names a regular file or nothing yet, otherwise why not.
inline QString refusal(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? refusal(info.st_mode) : QString();
}

// `path` opened with `flags` (O_RDONLY, or O_WRONLY | O_CREAT | O_TRUNC), blocking as usual once
// open; -1 with `error` as "PATH: reason" unless it is a regular file.
inline int open(const QString &path, int flags, QString *error)
{
    auto fail = [&](const QString &reason) {
        *error = QStringLiteral("%1: %2").arg(path, reason);
        return -1;
    };
    // A device is refused before it is opened at all: opening one can act on it.
    if (const QString refused = refusal(path); !refused.isEmpty())
        return fail(refused);
    // Not blocking, and truncating only once the file is known to be regular: the name may have
    // been given to something else since.
    const int fd = ::open(QFile::encodeName(path).constData(), (flags & ~O_TRUNC) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0)
        return fail(qt_error_string(errno));
    struct stat info {};
    QString refused = ::fstat(fd, &info) == 0 ? refusal(info.st_mode) : qt_error_string(errno);
    if (refused.isEmpty() && (flags & O_TRUNC) && ::ftruncate(fd, 0) != 0)
        refused = qt_error_string(errno);
    if (refused.isEmpty() && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        refused = qt_error_string(errno);
    if (!refused.isEmpty()) {
        ::close(fd);
        return fail(refused);
    }
    return fd;
}

// The same, handed to `file` (which then owns the descriptor).
inline bool open(QFile &file, const QString &path, int flags, QString *error)
{
    const int fd = open(path, flags, error);
    if (fd < 0)
        return false;
    const QIODevice::OpenMode mode = (flags & O_ACCMODE) == O_RDONLY ? QIODevice::ReadOnly : QIODevice::WriteOnly;
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace RegularFile
