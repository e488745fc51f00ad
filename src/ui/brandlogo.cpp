#include "brandlogo.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPixmapCache>

QImage readShippedPng(const QString &path)
{
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

QPixmap brandLogo(int size)
{
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    const int pixels = qRound(size * ratio);
    // Qt's own pixmap cache, which goes with the application object: a pixmap kept in a static
    // would outlive it.
    const QString key = QStringLiteral("quillmor-logo-%1").arg(pixels);
    QPixmap pixmap;
    if (!QPixmapCache::find(key, &pixmap)) {
        // The sizes the window shows, at 1x and 2x, are shipped ready-made: a small decode and no
        // scaling. Other scales of the screen are made once from the largest copy.
        const QString exact = QStringLiteral(":/logo-%1.png").arg(pixels);
        if (QFile::exists(exact)) {
            pixmap = QPixmap::fromImage(readShippedPng(exact));
        } else {
            const QImage source = readShippedPng(QStringLiteral(":/logo-168.png"));
            pixmap = QPixmap::fromImage(
                    source.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        }
        QPixmapCache::insert(key, pixmap);
    }
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}
