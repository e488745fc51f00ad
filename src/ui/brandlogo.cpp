#include "brandlogo.h"

#include <QGuiApplication>
#include <QImage>

QPixmap brandLogo(int size)
{
    static const QImage source(QStringLiteral(":/logo-168.png"), "PNG");
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    const int pixels = qRound(size * ratio);
    QPixmap pixmap = QPixmap::fromImage(
            source.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}
