// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/FileReplacement.h"

#include <QFile>
#include <QFileInfo>
#include <qplatformdefs.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

// Linux: fallocate, renameat2 and /proc/self/fd.
namespace {

const char notRegular[] = "not a regular file";

struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            QT_CLOSE(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

// The file a replace puts in place, and how.
struct Target {
    Descriptor file;  // open for writing; none when there is no file yet
    struct stat info{};
    QByteArray name;  // where the new file goes: the open file's own name, or the path given
    bool inPlace = false;
};

// In a sticky folder (as /tmp) only the owner of the file or of the folder, or root, may rename
// over a file, though others may be allowed to write it.
bool renameForbidden(const QByteArray &name, const struct stat &file)
{
    struct stat folder;
    if (::stat(QFile::encodeName(QFileInfo(QFile::decodeName(name)).absolutePath()).constData(), &folder) != 0 || !(folder.st_mode & S_ISVTX))
        return false;
    const uid_t me = ::geteuid();
    return me != 0 && file.st_uid != me && folder.st_uid != me;
}

// The name the kernel reached the open file by, if it still names that very file (so that a file
// made beside it is made in the folder that holds it); empty otherwise.
QByteArray nameOf(int fd, const struct stat &file)
{
    char name[PATH_MAX];
    const ssize_t length = ::readlink(("/proc/self/fd/" + QByteArray::number(fd)).constData(), name, sizeof name);
    if (length <= 0 || size_t(length) >= sizeof name || name[0] != '/')
        return {};
    const QByteArray found(name, length);
    struct stat named;
    const bool same = ::fstatat(AT_FDCWD, found.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
                      && named.st_dev == file.st_dev && named.st_ino == file.st_ino;
    return same ? found : QByteArray();
}

// The path is opened as the kernel lets this user open it: the kernel follows a symbolic link, or
// refuses one it must not follow (fs.protected_symlinks: another user's link in a sticky folder
// such as /tmp, named by root). The new file then takes the name the kernel reached the file by,
// so a user's own link stays and the file it names gets the contents whole or not at all, while
// no link leads further than the kernel would go. (Writing through the link in place would be
// simpler, but a failed write would leave that file half-written.) Nothing here waits: a FIFO or
// a device is opened without blocking, and refused once it is seen.
QString openTarget(const QString &path, Target *target)
{
    const QByteArray given = QFile::encodeName(path);
    // A device is not even opened: opening a serial port, say, would reset the board behind it.
    struct stat before;
    if (::stat(given.constData(), &before) == 0 && !S_ISREG(before.st_mode))
        return QString::fromLatin1(notRegular);
    target->file.fd = QT_OPEN(given.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (target->file.fd < 0) {
        // What a FIFO nobody reads, a socket or a device without its driver answers.
        if (errno == ENXIO)
            return QString::fromLatin1(notRegular);
        if (errno != ENOENT)
            return qt_error_string(errno);
        // A name the open did not find the file of is a link to a missing file. Made through the
        // link, the file would land wherever the link points; made over it, the link would be
        // lost. Refused, as cp refuses to write through a dangling link.
        struct stat link;
        if (::fstatat(AT_FDCWD, given.constData(), &link, AT_SYMLINK_NOFOLLOW) == 0)
            return QStringLiteral("a symbolic link to a file that does not exist");
        target->name = given;
        return {};
    }
    if (::fstat(target->file.fd, &target->info) != 0)
        return qt_error_string(errno);
    if (!S_ISREG(target->info.st_mode))
        return QString::fromLatin1(notRegular);
    // A file whose name cannot be found (renamed meanwhile, no /proc) is written in place: the
    // descriptor the kernel gave needs none.
    target->name = nameOf(target->file.fd, target->info);
    target->inPlace = target->name.isEmpty() || target->info.st_nlink > 1 || renameForbidden(target->name, target->info);
    return {};
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

bool noRoom(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

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

// Written over the file's first bytes, cut to their length, on the disk and closed: 0, or the
// first error number.
int writeAndClose(int fd, const QByteArray &contents)
{
    int error = writeAll(fd, contents) && QT_FTRUNCATE(fd, contents.size()) == 0 && ::fsync(fd) == 0 ? 0 : errno;
    if (QT_CLOSE(fd) != 0 && error == 0)
        error = errno;
    return error;
}

// A file made new takes a name nothing holds (nor a link): what appeared there meanwhile stays.
int renameToNewName(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system that cannot refuse so (NFS): the name looked at just before.
    struct stat there;
    if (::fstatat(AT_FDCWD, to.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

} // namespace

namespace FileReplacement {

QString check(const QString &path, qint64 size)
{
    Target target;
    if (const QString error = openTarget(path, &target); !error.isEmpty())
        return error;
    if (target.inPlace) {
        // The room taken now, past the file's end (its size and bytes stay as they are), so that
        // writing it in place once the chip has come cannot stop half-way for want of it; a read
        // that does not finish leaves it to the file's next write, which cuts it off. A file system
        // that cannot reserve (EOPNOTSUPP) is left to the write.
        if (::fallocate(target.file.fd, FALLOC_FL_KEEP_SIZE, 0, size) != 0 && noRoom(errno))
            return qt_error_string(errno);
        return {};
    }
    if (const int error = target.file.fd >= 0 ? 0 : nameError(target.name))
        return qt_error_string(error);
    QByteArray beside;
    const int fd = createBeside(target.name, &beside);
    if (fd < 0)
        return qt_error_string(errno);
    // Room for the contents, where the file system can tell without their being written.
    const int room = ::posix_fallocate(fd, 0, size);
    QT_CLOSE(fd);
    ::unlink(beside.constData());
    return noRoom(room) ? qt_error_string(room) : QString();
}

Result replace(const QString &path, const QByteArray &contents)
{
    Target target;
    if (const QString error = openTarget(path, &target); !error.isEmpty())
        return {error};
    if (target.inPlace) {
        // Not truncated first: the new bytes go over the old ones into the room check() reserved,
        // so that what is left to fail is the disk itself.
        const int error = writeAndClose(target.file.release(), contents);
        return error == 0 ? Result{} : Result{qt_error_string(error), false};
    }
    const bool existed = target.file.fd >= 0;
    QByteArray beside;
    const int fd = createBeside(target.name, &beside);
    if (fd < 0)
        return {qt_error_string(errno)};
    if (!existed) {
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
    if (error == 0 && existed)
        error = ::rename(beside.constData(), target.name.constData()) == 0 ? 0 : errno;
    else if (error == 0)
        error = renameToNewName(beside, target.name);
    if (error != 0) {
        ::unlink(beside.constData());
        return {qt_error_string(error)};
    }
    return {};
}

} // namespace FileReplacement
