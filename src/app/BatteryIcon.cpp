#include "app/BatteryIcon.h"

#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace drainwatch {

QIcon batteryIcon(std::optional<double> charge)
{
    constexpr int size = 64;
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    // Light outline on a dark body: readable on light and dark panels alike.
    const QRectF body(4, 14, 50, 36);
    painter.setPen(QPen(QColor(0xd8, 0xd8, 0xd8), 4));
    painter.setBrush(QColor(0x30, 0x30, 0x30));
    painter.drawRoundedRect(body, 6, 6);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xd8, 0xd8, 0xd8));
    painter.drawRoundedRect(QRectF(55, 24, 6, 16), 2, 2);

    if (charge && std::isfinite(*charge)) {
        const double level = std::clamp(*charge, 0.0, 1.0);
        const QColor fill = level < 0.2 ? QColor(0xe0, 0x5a, 0x2b) : QColor(0x4c, 0xc0, 0x5a);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(9, 19, 40 * level, 26), 3, 3);
    }
    painter.end();
    return QIcon(pixmap);
}

} // namespace drainwatch
