// SPDX-License-Identifier: MIT
#include "desktop/BatteryIcon.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace drainwatch {

QImage batteryImage(const BatteryLook& look, int size)
{
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    const QColor outline = look.darkPanel ? QColor(0xe8, 0xe8, 0xe8) : QColor(0x24, 0x24, 0x24);
    const QRectF body(4, 14, 50, 36);
    painter.setPen(QPen(outline, 4));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(body, 6, 6);
    painter.setPen(Qt::NoPen);
    painter.setBrush(outline);
    painter.drawRoundedRect(QRectF(55, 24, 6, 16), 2, 2);

    if (look.charge && std::isfinite(*look.charge)) {
        const double level = std::clamp(*look.charge, 0.0, 1.0);
        const QColor fill = level < 0.2 ? QColor(0xe0, 0x5a, 0x2b) : QColor(0x4c, 0xc0, 0x5a);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(9, 19, 40 * level, 26), 3, 3);
    }
    if (look.pluggedIn) {
        // A bolt across the body, edged in the outline's colour so that it
        // reads over the fill and over the empty part alike.
        QPainterPath bolt;
        bolt.moveTo(34, 8);
        bolt.lineTo(18, 35);
        bolt.lineTo(29, 35);
        bolt.lineTo(24, 56);
        bolt.lineTo(42, 27);
        bolt.lineTo(31, 27);
        bolt.closeSubpath();
        painter.setPen(QPen(look.darkPanel ? QColor(0x24, 0x24, 0x24) : QColor(0xff, 0xff, 0xff), 2.5));
        painter.setBrush(QColor(0xf5, 0xc2, 0x11));
        painter.drawPath(bolt);
    }
    painter.end();
    return size == 64 ? image : image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QIcon batteryIcon(const BatteryLook& look) { return QIcon(QPixmap::fromImage(batteryImage(look))); }

bool darkPalette() { return QGuiApplication::palette().color(QPalette::Window).lightness() < 128; }

} // namespace drainwatch
