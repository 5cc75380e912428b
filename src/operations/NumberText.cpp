// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/NumberText.h"

#include <cmath>
#include <limits>

namespace {

bool skipped(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Rounds half to even whatever rounding mode the process is in.
double roundHalfEven(double value)
{
    const double lower = std::floor(value);
    const double fraction = value - lower;
    if (fraction > 0.5)
        return lower + 1;
    if (fraction < 0.5)
        return lower;
    return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}

} // namespace

double numberAtStart(const QString &text)
{
    QString compact;
    compact.reserve(text.size());
    for (QChar c : text)
        if (!skipped(c))
            compact.append(c);

    // Builds the canonical form "-ddd.ddde-dd" of the longest prefix that makes a number.
    QString number;
    qsizetype i = 0;
    const qsizetype n = compact.size();
    if (i < n && (compact[i] == u'+' || compact[i] == u'-'))
        number.append(compact[i++]);
    qsizetype digits = 0;
    while (i < n && isDigit(compact[i])) {
        number.append(compact[i++]);
        ++digits;
    }
    if (i < n && compact[i] == u'.') {
        number.append(compact[i++]);
        while (i < n && isDigit(compact[i])) {
            number.append(compact[i++]);
            ++digits;
        }
    }
    if (digits == 0)
        return 0.0;
    if (i < n && QStringLiteral("eEdD").contains(compact[i])) {
        qsizetype j = i + 1;
        QString exponent = QStringLiteral("e");
        if (j < n && (compact[j] == u'+' || compact[j] == u'-'))
            exponent.append(compact[j++]);
        qsizetype exponentDigits = 0;
        while (j < n && isDigit(compact[j])) {
            exponent.append(compact[j++]);
            ++exponentDigits;
        }
        if (exponentDigits > 0)
            number.append(exponent);
    }
    if (number.startsWith(u'.') || number.startsWith(QStringLiteral("-.")) || number.startsWith(QStringLiteral("+.")))
        number.insert(number.indexOf(u'.'), u'0');

    bool ok = false;
    const double value = number.toDouble(&ok);
    if (ok)
        return value;
    // Out of range: an overflow reads as an infinity of the right sign, an underflow as zero.
    const bool negative = number.startsWith(u'-');
    const qsizetype e = number.indexOf(u'e');
    const bool tiny = e >= 0 && number.at(e + 1) == u'-';
    if (tiny)
        return negative ? -0.0 : 0.0;
    return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
}

std::optional<std::int32_t> roundedToInt32(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = roundHalfEven(value);
    if (rounded < std::numeric_limits<std::int32_t>::min() || rounded > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

std::optional<std::uint8_t> roundedToByte(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = roundHalfEven(value);
    if (rounded < 0 || rounded > 255)
        return std::nullopt;
    return static_cast<std::uint8_t>(rounded);
}
