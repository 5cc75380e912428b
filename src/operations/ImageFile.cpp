// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/ImageFile.h"

#include "link/CommandFrame.h"
#include "operations/FileReplacement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <qplatformdefs.h>

namespace ImageFile {

bool namesNoFile(const QString &path)
{
    return path.isEmpty() || path.endsWith(u'/') || path.endsWith(QDir::separator()) || QFileInfo(path).isDir();
}

ImageOpen openForReading(QFile &file, const QString &path)
{
    if (file.isOpen())
        return ImageOpen::Failed;
    if (namesNoFile(path))
        return ImageOpen::NoFileSelected;
    if (isPipeOrSocket(path))
        return ImageOpen::Failed;
    file.setFileName(path);
    if (!file.exists()) {
        if (!file.open(QIODevice::ReadWrite))
            return ImageOpen::Failed;
        file.close();
    }
    return file.open(QIODevice::ReadOnly) ? ImageOpen::Opened : ImageOpen::Failed;
}

ImageOpen openForWriting(QFile &file, const QString &path)
{
    if (file.isOpen())
        return ImageOpen::Failed;
    if (namesNoFile(path))
        return ImageOpen::NoFileSelected;
    if (isPipeOrSocket(path))
        return ImageOpen::Failed;
    file.setFileName(path);
    const bool existed = file.exists();
    // Unbuffered: every byte handed over is with the system before the handler returns.
    if (file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return ImageOpen::Opened;
    return existed ? ImageOpen::NotWritable : ImageOpen::Failed;
}

ImageOpen checkReplaceable(const QString &path, qint64 size)
{
    if (namesNoFile(path))
        return ImageOpen::NoFileSelected;
    if (isPipeOrSocket(path))
        return ImageOpen::Failed;
    if (FileReplacement::check(path, size).isEmpty())
        return ImageOpen::Opened;
    // Unlike a raw file's, a new one is tried too: one that cannot be made where its folder is (a
    // name too long, no room) is said so; only a missing folder starts nothing, as for a raw file.
    return QFileInfo(path).absoluteDir().exists() ? ImageOpen::NotWritable : ImageOpen::Failed;
}

Outcome outcomeOf(ImageOpen opened)
{
    switch (opened) {
    case ImageOpen::NoFileSelected:
        return Outcome::NoFileSelected;
    case ImageOpen::NotWritable:
        return Outcome::NotWritable;
    case ImageOpen::Opened:
    case ImageOpen::Failed:
        break;
    }
    return Outcome::NotStarted;
}

ImageFormats::Parsed chipImage(QFile &file)
{
    file.seek(0);
    return ImageFormats::decode(file);
}

bool isPipeOrSocket(const QString &path)
{
    QT_STATBUF info;
    if (QT_STAT(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode);
}

} // namespace ImageFile
