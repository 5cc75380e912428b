// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/FileReplacement.h"

#include <QFile>
#include <QFileInfo>
#include <qplatformdefs.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file a replace puts in place, and how.
struct Target {
    QByteArray path;  // a symbolic link's target: the link itself stays
    bool exists = false;
    QT_STATBUF info{};
    bool inPlace = false;
};

// In a sticky folder (as /tmp) only the owner of the file or of the folder, or root, may rename
// over a file, though others may be allowed to write it.
bool renameForbidden(const QString &path, const QT_STATBUF &file)
{
    QT_STATBUF folder;
    if (QT_STAT(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &folder) != 0 || !(folder.st_mode & S_ISVTX))
        return false;
    const uid_t me = ::geteuid();
    return me != 0 && file.st_uid != me && folder.st_uid != me;
}

Target targetOf(const QString &path)
{
    const QFileInfo link(path);
    const QString final = !link.isSymLink() ? path : link.exists() ? link.canonicalFilePath() : link.symLinkTarget();
    Target target;
    target.path = QFile::encodeName(final);
    target.exists = QT_STAT(target.path.constData(), &target.info) == 0;
    target.inPlace = target.exists
                     && (!S_ISREG(target.info.st_mode) || target.info.st_nlink > 1 || renameForbidden(final, target.info));
    return target;
}

// A new file beside the target, NAME.XXXXXX, or .romivo-XXXXXX in its folder when the name is
// too long to take six more letters; -1 with errno set when none can be made. Readable by the
// user alone until it is given its final mode.
int createBeside(const QByteArray &path, QByteArray *name)
{
    *name = path + ".XXXXXX";
    int fd = ::mkostemp(name->data(), O_CLOEXEC);
    if (fd < 0 && errno == ENAMETOOLONG) {
        *name = QFile::encodeName(QFileInfo(QFile::decodeName(path)).absolutePath()) + "/.romivo-XXXXXX";
        fd = ::mkostemp(name->data(), O_CLOEXEC);
    }
    return fd;
}

// The target's own name is one the file system takes (a file beside it may have a shorter one).
int nameError(const QByteArray &path)
{
    const QFileInfo info(QFile::decodeName(path));
    const long longest = ::pathconf(QFile::encodeName(info.absolutePath()).constData(), _PC_NAME_MAX);
    return longest > 0 && QFile::encodeName(info.fileName()).size() > longest ? ENAMETOOLONG : 0;
}

// Every byte, or false with errno set.
bool writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype at = 0; at < bytes.size();) {
        const auto written = QT_WRITE(fd, bytes.constData() + at, size_t(bytes.size() - at));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = ENOSPC;
            return false;
        }
        at += written;
    }
    return true;
}

// Written, on the disk and closed: 0, or the first error number.
int writeAndClose(int fd, const QByteArray &contents)
{
    int error = writeAll(fd, contents) && ::fsync(fd) == 0 ? 0 : errno;
    if (QT_CLOSE(fd) != 0 && error == 0)
        error = errno;
    return error;
}

} // namespace

namespace FileReplacement {

QString check(const QString &path, qint64 size)
{
    const Target target = targetOf(path);
    if (target.exists && ::faccessat(AT_FDCWD, target.path.constData(), W_OK, AT_EACCESS) != 0)
        return qt_error_string(errno);
    if (target.inPlace) {
        const int fd = QT_OPEN(target.path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return qt_error_string(errno);
        QT_CLOSE(fd);
        return {};
    }
    if (const int error = target.exists ? 0 : nameError(target.path))
        return qt_error_string(error);
    QByteArray beside;
    const int fd = createBeside(target.path, &beside);
    if (fd < 0)
        return qt_error_string(errno);
    // Room for the contents, where the file system can tell without their being written.
    const int room = ::posix_fallocate(fd, 0, size);
    QT_CLOSE(fd);
    ::unlink(beside.constData());
    return room == ENOSPC || room == EDQUOT || room == EFBIG ? qt_error_string(room) : QString();
}

Result replace(const QString &path, const QByteArray &contents)
{
    const Target target = targetOf(path);
    if (target.inPlace) {
        const int fd = QT_OPEN(target.path.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0)
            return {qt_error_string(errno)};
        const int error = writeAndClose(fd, contents);
        return error == 0 ? Result{} : Result{qt_error_string(error), false};
    }
    QByteArray beside;
    const int fd = createBeside(target.path, &beside);
    if (fd < 0)
        return {qt_error_string(errno)};
    if (!target.exists) {
        // The mode any new file of this user's gets.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    } else {
        // Root gives the file back to its owner (a sudo user's file stays theirs); others keep at
        // least its group where they belong to it. Owner before mode: a new owner clears set-ID bits.
        const bool owned = ::fchown(fd, target.info.st_uid, target.info.st_gid) == 0;
        if (!owned && ::fchown(fd, uid_t(-1), target.info.st_gid) != 0) {
            // Neither: the file becomes this user's, as any file it makes.
        }
        ::fchmod(fd, target.info.st_mode & 07777);
    }
    int error = writeAndClose(fd, contents);
    if (error == 0 && ::rename(beside.constData(), target.path.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(beside.constData());
        return {qt_error_string(error)};
    }
    return {};
}

} // namespace FileReplacement
