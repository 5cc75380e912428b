// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ButtonColour.h"

#include <QPushButton>

void setButtonColour(QPushButton *button, const QColor &colour)
{
    if (!colour.isValid()) {
        button->setStyleSheet({});
        return;
    }
    button->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; border: 1px solid palette(shadow); "
                                         "border-radius: 2px; }"
                                         "QPushButton:pressed { border-width: 2px; }")
                              .arg(colour.name()));
}
