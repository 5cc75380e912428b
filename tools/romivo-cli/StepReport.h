// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <optional>

// What one operation of a run came to: printed as one line of English, followed by the window's
// own box text in brackets, or as one JSON object.
struct StepReport {
    QString operation;                      // write, read, verify, blank, compare
    QString outcome;                        // ok, equal, unchanged, differs, not-blank, refused, failed, ...
    QString detail;                         // the line's words after the outcome, with their separator
    QString windowText;                     // the box the window shows for this end, if any
    std::optional<int> location;
    std::optional<int> chipByte;
    std::optional<int> fileByte;
    std::optional<QByteArray> checksummed;  // the image whose byte sum and CRC-32 are given
    double seconds = 0;
    QJsonObject extra;                      // fields only some operations have

    QString line() const;
    QByteArray json() const;
};

// 0x0100, 0xDE: the form every location and byte takes on the result lines.
QString hexNumber(int value, int digits);
// A file or port name as a text line shows it: as given, unless it holds a control character (a
// newline would split the line) or begins with $' ; then quoted as the shell's $'...' does, so
// that every name reads back to itself: $'new\nname.bin'.
QString shownName(const QString &name);
// "7F3C 3D75CCFB": the 16-bit byte sum and the CRC-32, as written on EPROM labels.
QString checksumText(const QByteArray &image);
