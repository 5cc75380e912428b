// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/PortName.h"

#include <QRegularExpression>

PortSelection selectPort(const QString &text, PortPlatform platform)
{
    const QString name = text.trimmed();
    if (name.isEmpty())
        return {};
    if (name.compare(QLatin1String("SIM"), Qt::CaseInsensitive) == 0)
        return {PortSelection::Kind::Simulated, {}};

    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    if (integer.match(name).hasMatch()) {
        bool ok = false;
        const int number = name.toInt(&ok, 10);
        if (!ok || number < 1 || number > 32767)
            return {};
        if (platform == PortPlatform::Windows)
            return {PortSelection::Kind::Serial, QStringLiteral("COM%1").arg(number)};
        return {PortSelection::Kind::Serial, QStringLiteral("/dev/ttyS%1").arg(number - 1)};
    }
    return {PortSelection::Kind::Serial, name};
}
