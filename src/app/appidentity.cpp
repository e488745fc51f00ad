#include "appidentity.h"

#include "api/servicedefaults.h"
#include "ui/brandlogo.h"

#include <QApplication>
#include <QHash>
#include <QIcon>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>

#include <utility>

static void initResources()
{
    // The logo is compiled into the widgets library; a static library's resource initialiser is
    // only kept when something calls it.
    Q_INIT_RESOURCE(resources);
}

namespace {

// The window icon from the sizes shipped for the platform's icon theme. A pixmap icon decodes
// every file it is given at once, the 256-pixel one included, before the window is up; this one
// decodes a size when the window system first asks for it, and keeps it.
class ShippedIconEngine final : public QIconEngine
{
public:
    explicit ShippedIconEngine(QList<int> sizes) : m_sizes(std::move(sizes)) {}

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        const int side = pick(qMax(size.width(), size.height()));
        return QSize(side, side).boundedTo(size);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        const int side = pick(qMax(size.width(), size.height()));
        QPixmap image = m_decoded.value(side);
        if (image.isNull()) {
            image = QPixmap::fromImage(
                    readShippedPng(QStringLiteral(":/icons/quillmor-%1.png").arg(side)));
            m_decoded.insert(side, image);
        }
        if (image.width() > size.width() || image.height() > size.height())
            image = image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (mode == QIcon::Disabled) {
            QStyleOption option;
            return QApplication::style()->generatedIconPixmap(mode, image, &option);
        }
        Q_UNUSED(state);
        return image;
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap image = pixmap(rect.size() * ratio, mode, state);
        image.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, image);
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (int side : m_sizes)
            sizes << QSize(side, side);
        return sizes;
    }

    QIconEngine *clone() const override { return new ShippedIconEngine(*this); }
    QString key() const override { return QStringLiteral("ShippedIconEngine"); }

private:
    // The smallest shipped size that covers the request, or the largest there is.
    int pick(int side) const
    {
        for (int shipped : m_sizes) {
            if (shipped >= side)
                return shipped;
        }
        return m_sizes.last();
    }

    QList<int> m_sizes;
    QHash<int, QPixmap> m_decoded;
};

} // namespace

static QIcon applicationIcon()
{
    return QIcon(new ShippedIconEngine({16, 24, 32, 48, 64, 256}));
}

void applyApplicationIdentity(QApplication &app)
{
    initResources();
    QCoreApplication::setOrganizationName(QStringLiteral("Quillmor"));
    QCoreApplication::setOrganizationDomain(serviceDomain());
    QCoreApplication::setApplicationName(QStringLiteral("QuillmorMikroTikSetup"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    // After the application object has parsed its arguments, so that "-style" cannot override it.
    QApplication::setStyle(QStringLiteral("Fusion"));
    app.setWindowIcon(applicationIcon());
}
