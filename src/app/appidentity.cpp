#include "appidentity.h"

#include "api/servicedefaults.h"

#include <QApplication>
#include <QIcon>

static void initResources()
{
    // The logo is compiled into the widgets library; a static library's resource initialiser is
    // only kept when something calls it.
    Q_INIT_RESOURCE(resources);
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
    app.setWindowIcon(QIcon(QStringLiteral(":/logo.png")));
}
