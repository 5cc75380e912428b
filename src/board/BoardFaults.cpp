// SPDX-License-Identifier: GPL-3.0-or-later
#include "board/BoardFaults.h"

#include <QRegularExpression>

namespace {

std::optional<int> number(const QString &text, int minimum, int maximum)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 0);
    if (!ok || value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

} // namespace

bool BoardFaults::apply(const QString &option, QString *error)
{
    const qsizetype equals = option.indexOf(QLatin1Char('='));
    const QString name = equals < 0 ? option : option.left(equals);
    const QString value = equals < 0 ? QString() : option.mid(equals + 1);
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("--fault %1: %2").arg(option, why);
        return false;
    };
    auto block = [&](int &target, std::optional<quint8> withByte) {
        const auto k = number(value, 0, 63);
        if (!k)
            return fail(QStringLiteral("needs a block number 0..63"));
        target = *k;
        if (withByte)
            failByte = *withByte;
        return true;
    };

    if (name == QLatin1String("no-dsr")) {
        noDsr = true;
        return true;
    }
    if (name == QLatin1String("endless-stream")) {
        endlessStream = true;
        return true;
    }
    if (name == QLatin1String("silent-after-block"))
        return block(silentFromBlock, std::nullopt);
    if (name == QLatin1String("0x62-during-block"))
        return block(failDuringBlock, quint8(0x62));
    if (name == QLatin1String("0x63-during-block"))
        return block(failDuringBlock, quint8(0x63));
    if (name == QLatin1String("0x62-for-ack"))
        return block(failInsteadOfAck, quint8(0x62));
    if (name == QLatin1String("0x63-for-ack"))
        return block(failInsteadOfAck, quint8(0x63));
    if (name == QLatin1String("short-stream")) {
        const auto n = number(value, 0, 32767);
        if (!n)
            return fail(QStringLiteral("needs a byte count 0..32767"));
        streamStopsAfter = *n;
        return true;
    }
    if (name == QLatin1String("long-stream")) {
        const auto n = number(value, 1, 1 << 20);
        if (!n)
            return fail(QStringLiteral("needs a count of extra bytes"));
        streamExtraBytes = *n;
        return true;
    }
    if (name == QLatin1String("stray")) {
        static const QRegularExpression hexPairs(QStringLiteral("^([0-9A-Fa-f]{2})+$"));
        if (!hexPairs.match(value).hasMatch())
            return fail(QStringLiteral("needs the stray bytes in hexadecimal, for example 0d63"));
        strayBytes = QByteArray::fromHex(value.toLatin1());
        return true;
    }
    if (name == QLatin1String("stuck")) {
        const QStringList parts = value.split(QLatin1Char(':'));
        const auto address = parts.size() == 2 ? number(parts[0], 0, 32767) : std::nullopt;
        const auto mask = parts.size() == 2 ? number(parts[1], 1, 255) : std::nullopt;
        if (!address || !mask)
            return fail(QStringLiteral("needs ADDRESS:MASK, for example 0x100:0x01"));
        stuckBits.append({*address, quint8(*mask)});
        return true;
    }
    return fail(QStringLiteral("no such fault"));
}

QStringList BoardFaults::help()
{
    return {
        QStringLiteral("no-dsr                 never change DSR when the port opens (no effect on a pseudo-terminal)"),
        QStringLiteral("silent-after-block=K   answer nothing once block K (0..63) of a write has arrived"),
        QStringLiteral("0x62-during-block=K    send 0x62 in the middle of block K and drop the write"),
        QStringLiteral("0x63-during-block=K    send 0x63 in the middle of block K and drop the write"),
        QStringLiteral("0x62-for-ack=K         answer block K with 0x62 instead of 0x0D and drop the write"),
        QStringLiteral("0x63-for-ack=K         answer block K with 0x63 instead of 0x0D and drop the write"),
        QStringLiteral("short-stream=N         end a stream after N bytes"),
        QStringLiteral("long-stream=N          send N bytes more than the chip holds in a stream"),
        QStringLiteral("stray=HEX              send these bytes unasked after each command frame that has no answer"),
        QStringLiteral("endless-stream         stream the chip over and over from the start, unasked, and never stop"),
        QStringLiteral("stuck=ADDRESS:MASK     bits of MASK at ADDRESS stay 1 (repeatable)"),
    };
}
