// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the window's logo, a small green 9-pin serial connector under a row of ones and zeros,
// and saves it as a 50 x 31 JPEG: romivo-logo OUTPUT.jpg
#include <QCoreApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

namespace {

// 3 x 5 pixel digits, one row per entry, most significant bit on the left.
constexpr int Zero[5] = {0b111, 0b101, 0b101, 0b101, 0b111};
constexpr int One[5] = {0b010, 0b110, 0b010, 0b010, 0b111};

void drawDigit(QImage &image, int left, int top, bool one, QRgb colour)
{
    const int *rows = one ? One : Zero;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 3; ++x)
            if (rows[y] & (4 >> x))
                image.setPixel(left + x, top + y, colour);
}

QImage drawLogo()
{
    QImage image(50, 31, QImage::Format_RGB32);
    image.fill(QColor(238, 244, 238));

    const char bits[] = "101100101011";
    for (int i = 0; bits[i]; ++i)
        drawDigit(image, 2 + i * 4, 2, bits[i] == '1', qRgb(0, 110, 40));

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // The flange with its two screw holes.
    painter.setPen(QPen(QColor(0, 90, 30), 1));
    painter.setBrush(QColor(40, 170, 70));
    painter.drawRoundedRect(QRectF(1.5, 10.5, 47, 19), 2, 2);
    painter.setBrush(QColor(238, 244, 238));
    painter.drawEllipse(QPointF(5.5, 20), 2, 2);
    painter.drawEllipse(QPointF(44.5, 20), 2, 2);
    // The D-shaped shell, wider at the top.
    QPainterPath shell;
    shell.moveTo(10, 13);
    shell.lineTo(40, 13);
    shell.lineTo(37, 27);
    shell.lineTo(13, 27);
    shell.closeSubpath();
    painter.setBrush(QColor(0, 120, 45));
    painter.drawPath(shell);
    // Five pins above, four below.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(200, 235, 200));
    for (int i = 0; i < 5; ++i)
        painter.drawEllipse(QPointF(15 + i * 5, 17), 1.4, 1.4);
    for (int i = 0; i < 4; ++i)
        painter.drawEllipse(QPointF(17.5 + i * 5, 23), 1.4, 1.4);
    painter.end();
    image.setDotsPerMeterX(3780);  // 96 dots per inch
    image.setDotsPerMeterY(3780);
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: romivo-logo OUTPUT.jpg\n";
        return 2;
    }
    QImageWriter writer(args.at(1), "jpeg");
    writer.setQuality(92);
    if (!writer.write(drawLogo())) {
        QTextStream(stderr) << "romivo-logo: " << writer.errorString() << '\n';
        return 1;
    }
    return 0;
}
