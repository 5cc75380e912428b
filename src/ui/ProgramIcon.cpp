// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ProgramIcon.h"

#include <QPainter>
#include <QPixmap>

namespace {

QPixmap windowSymbol(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const int margin = size / 16;
    const QRect page(margin, margin * 2, size - 2 * margin - 1, size - 3 * margin - 1);
    painter.fillRect(page, Qt::white);
    painter.fillRect(QRect(page.topLeft(), QSize(page.width(), size / 5)), QColor(0, 255, 255));
    painter.setPen(Qt::black);
    painter.drawRect(page);
    painter.drawLine(page.left(), page.top() + size / 5, page.right(), page.top() + size / 5);
    return pixmap;
}

} // namespace

QIcon programIcon()
{
    QIcon icon;
    icon.addPixmap(windowSymbol(16));
    icon.addPixmap(windowSymbol(32));
    return icon;
}
