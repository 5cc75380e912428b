// SPDX-License-Identifier: GPL-3.0-or-later
#include "StepReport.h"

#include "operations/ImageFormats.h"

#include <QJsonDocument>
#include <algorithm>

QString hexNumber(int value, int digits)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(digits, u'0').toUpper();
}

QString shownName(const QString &name)
{
    const auto control = [](QChar c) { return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F); };
    if (!name.startsWith(QLatin1String("$'")) && std::none_of(name.begin(), name.end(), control))
        return name;
    QString quoted = QStringLiteral("$'");
    for (const QChar c : name) {
        if (c == u'\\' || c == u'\'')
            quoted += u'\\' + QString(c);
        else if (c == u'\n')
            quoted += QStringLiteral("\\n");
        else if (c == u'\t')
            quoted += QStringLiteral("\\t");
        else if (c == u'\r')
            quoted += QStringLiteral("\\r");
        else if (control(c))
            quoted += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            quoted += c;
    }
    return quoted + u'\'';
}

QString checksumText(const QByteArray &image)
{
    return QString::number(ImageFormats::byteSum(image), 16).rightJustified(4, u'0').toUpper() + u' '
           + QString::number(ImageFormats::crc32(image), 16).rightJustified(8, u'0').toUpper();
}

QString StepReport::line() const
{
    QString text = operation + QStringLiteral(": ") + QString(outcome).replace(u'-', u' ') + detail;
    if (checksummed)
        text += QStringLiteral(", checksum ") + checksumText(*checksummed);
    // A box of two lines (a port and its reason) stays on the one result line.
    if (!windowText.isEmpty())
        text += QStringLiteral(" [") + QString(windowText).replace(u'\n', QStringLiteral("; ")) + u']';
    return text;
}

QByteArray StepReport::json() const
{
    const auto orNull = [](const std::optional<int> &value) { return value ? QJsonValue(*value) : QJsonValue(); };
    QJsonObject object = extra;
    object.insert(QStringLiteral("operation"), operation);
    object.insert(QStringLiteral("outcome"), outcome);
    object.insert(QStringLiteral("location"), orNull(location));
    object.insert(QStringLiteral("chip"), orNull(chipByte));
    object.insert(QStringLiteral("file"), orNull(fileByte));
    QJsonValue checksum;
    if (checksummed) {
        const QStringList parts = checksumText(*checksummed).split(u' ');
        checksum = QJsonObject{{QStringLiteral("sum16"), parts.at(0)}, {QStringLiteral("crc32"), parts.at(1)}};
    }
    object.insert(QStringLiteral("checksum"), checksum);
    object.insert(QStringLiteral("seconds"), qRound(seconds * 1000) / 1000.0);
    object.insert(QStringLiteral("message"), windowText.isEmpty() ? QJsonValue() : QJsonValue(windowText));
    object.insert(QStringLiteral("detail"), detail.mid(detail.indexOf(u' ') + 1));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
