#include "operations/ImageFile.h"

#include "link/CommandFrame.h"
#include "operations/Operator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// The path/file access failure: no file name at all.
bool namesNoFile(const QString &path)
{
    return path.isEmpty() || path.endsWith(u'/') || path.endsWith(QDir::separator()) || QFileInfo(path).isDir();
}

} // namespace

namespace ImageFile {

QString notWritableText(const QString &path)
{
    return QStringLiteral("IL FILE NON PUO' ESSERE SCRITTO: ") + path;
}

ImageOpen openForReading(QFile &file, const QString &path)
{
    if (file.isOpen())
        return ImageOpen::Failed;
    if (namesNoFile(path))
        return ImageOpen::NoFileSelected;
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
    file.setFileName(path);
    const bool existed = file.exists();
    // Unbuffered: every byte handed over is with the system before the handler returns.
    if (file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return ImageOpen::Opened;
    return existed ? ImageOpen::NotWritable : ImageOpen::Failed;
}

bool report(Operator &op, ImageOpen outcome, const QString &path)
{
    switch (outcome) {
    case ImageOpen::Opened:
        return true;
    case ImageOpen::NoFileSelected:
        op.fail(NoFileSelectedText);
        return false;
    case ImageOpen::NotWritable:
        op.fail(notWritableText(path));
        return false;
    case ImageOpen::Failed:
        return false;
    }
    return false;
}

QByteArray chipImage(QFile &file)
{
    file.seek(0);
    QByteArray image = file.read(Frame::ImageSize);
    if (image.size() < Frame::ImageSize)
        image.append(Frame::ImageSize - image.size(), Erased);
    return image;
}

} // namespace ImageFile
