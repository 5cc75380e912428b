// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Fonts.h"

#include <QStringList>

namespace {

QFont font(const QStringList &families, QFont::StyleHint hint, double points, int weight)
{
    QFont f;
    f.setFamilies(families);
    f.setStyleHint(hint);
    f.setPointSizeF(points);
    f.setWeight(QFont::Weight(weight));
    f.setItalic(false);
    f.setUnderline(false);
    f.setStrikeOut(false);
    return f;
}

const QStringList bookman{QStringLiteral("Bookman Old Style"), QStringLiteral("URW Bookman"),
                          QStringLiteral("URW Bookman L"), QStringLiteral("Bookman"),
                          QStringLiteral("TeX Gyre Bonum"), QStringLiteral("DejaVu Serif")};
const QStringList gadugi{QStringLiteral("Gadugi"), QStringLiteral("Segoe UI"), QStringLiteral("Nimbus Sans"),
                         QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")};
const QStringList bookAntiqua{QStringLiteral("Book Antiqua"), QStringLiteral("Palatino Linotype"),
                              QStringLiteral("P052"), QStringLiteral("URW Palladio L"),
                              QStringLiteral("Palatino"), QStringLiteral("TeX Gyre Pagella"),
                              QStringLiteral("DejaVu Serif")};

} // namespace

namespace Fonts {
QFont bookmanRegular() { return font(bookman, QFont::Serif, 8.25, 300); }
QFont bookmanBold() { return font(bookman, QFont::Serif, 8.25, 600); }
QFont bookmanLargeBold() { return font(bookman, QFont::Serif, 9.75, 600); }
QFont gadugiLarge() { return font(gadugi, QFont::SansSerif, 15.75, 400); }
QFont bookAntiquaLarge() { return font(bookAntiqua, QFont::Serif, 15.75, 400); }
} // namespace Fonts
