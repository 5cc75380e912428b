// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

inline QString writeFile(const QString &path, const QByteArray &contents)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QByteArray randomImage(int size, quint32 seed = 7)
{
    QRandomGenerator random(seed);
    QByteArray image(size, '\0');
    for (char &c : image)
        c = char(random.bounded(256));
    return image;
}

inline QByteArray erased(int size = 32768) { return QByteArray(size, char(0xFF)); }

// Makes a file unwritable even for root while the guard lives (an empty path: no file).
struct Immutable {
    explicit Immutable(const QString &path) : path(path), ok(!path.isEmpty() && QProcess::execute("chattr", {"+i", path}) == 0) {}
    ~Immutable()
    {
        if (ok)
            QProcess::execute("chattr", {"-i", path});
    }
    const QString path;
    const bool ok;
};
