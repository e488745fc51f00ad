#include "appidentity.h"

#include "api/servicedefaults.h"

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>

static void initResources()
{
    // The logo is compiled into the widgets library; a static library's resource initialiser is
    // only kept when something calls it.
    Q_INIT_RESOURCE(resources);
}

static QIcon applicationIcon()
{
    // The sizes shipped for the platform's icon theme: small files, and the full-size artwork is
    // never decoded for an icon.
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 256}) {
        const QImage image(QStringLiteral(":/icons/quillmor-%1.png").arg(size), "PNG");
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
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
