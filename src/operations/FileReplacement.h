// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Puts a whole new file in place of the one a path names, for a read that must leave its target
// as it was unless the chip came whole. The path is opened as the kernel lets the user open it (it
// follows a symbolic link, or refuses another user's link in a sticky folder), and only a regular
// file is taken; a link to a file that does not exist is refused. The contents go to a file made
// beside the file opened (`NAME.XXXXXX`, as QSaveFile names it, or `.romivo-XXXXXX` for a name too
// long for that), which is flushed to the disk and then renamed over it, keeping the old file's
// owner and group where the program may set them, and its mode: a symbolic link stays, the file it
// names replaced. A file with other names (hard links), or one the program may write but not rename
// over (another user's, in a sticky folder), is written in place instead, so that every name sees
// the new contents. Failures give the system's own reason.
namespace FileReplacement {

// Tries what replacing the file with `size` bytes needs, before the contents exist: the target
// opened for writing, and a file made beside it with that room (then removed), or, for a file
// written in place, that room reserved in it (its size and bytes unchanged). Empty when it can be
// done, otherwise why not.
QString check(const QString &path, qint64 size);

struct Result {
    QString error;         // empty: the file holds the contents
    bool untouched = true; // after an error: the file is as it was (not so for one written in place)
};
Result replace(const QString &path, const QByteArray &contents);

} // namespace FileReplacement
