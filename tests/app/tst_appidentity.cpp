#include "appidentity.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QSettings>
#include <QStyle>
#include <QTest>

// What the program looks like to the platform: its identity, style, icons and desktop entry.
class TestAppIdentity final : public QObject
{
    Q_OBJECT

private slots:
    void identityAndStyle();
    void logoIsSquareRgba();
    void platformIconsHaveSixSizes();
    void desktopEntryNamesInstalledIcon();

private:
    static QString resourcesDir();
};

QString TestAppIdentity::resourcesDir()
{
    return QDir(qEnvironmentVariable("QUILLMOR_TEST_SOURCE_DIR")).filePath(QStringLiteral("resources"));
}

void TestAppIdentity::identityAndStyle()
{
    QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Quillmor"));
    QCOMPARE(QCoreApplication::organizationDomain(), QStringLiteral("quillmor.com"));
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("QuillmorMikroTikSetup"));
    QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.0.0"));
    // main() below passes "-style Windows"; the identity must win over the command line.
    QCOMPARE(QApplication::style()->name().toLower(), QStringLiteral("fusion"));
    const QIcon icon = QApplication::windowIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.pixmap(64, 64).size(), QSize(64, 64));
    // Every shipped size is offered to the window system; a size between them is made from the
    // next larger one, and one beyond them all is the largest.
    QList<int> offered;
    for (const QSize &size : icon.availableSizes())
        offered << size.width();
    QCOMPARE(offered, QList<int>({16, 24, 32, 48, 64, 256}));
    QCOMPARE(icon.pixmap(20, 20).size(), QSize(20, 20));
    QCOMPARE(icon.actualSize(QSize(512, 512)), QSize(256, 256));
    const QImage large = icon.pixmap(512, 512).toImage();
    QCOMPARE(large.size(), QSize(256, 256));
    QCOMPARE(qAlpha(large.pixel(0, 0)), 0);
    QVERIFY(!icon.pixmap(QSize(32, 32), QIcon::Disabled).isNull());
}

void TestAppIdentity::logoIsSquareRgba()
{
    const QImage logo(QStringLiteral(":/logo.png"));
    QCOMPARE(logo.size(), QSize(679, 679));
    QVERIFY(logo.hasAlphaChannel());
    // Rounded corners: the corner is transparent, the middle of an edge is the brand teal.
    QCOMPARE(qAlpha(logo.pixel(0, 0)), 0);
    QCOMPARE(QColor(logo.pixel(339, 8)).name(), QStringLiteral("#0f6f8c"));
}

void TestAppIdentity::platformIconsHaveSixSizes()
{
    const QList<int> sizes{16, 24, 32, 48, 64, 256};
    QImageReader ico(QDir(resourcesDir()).filePath(QStringLiteral("quillmor.ico")));
    QCOMPARE(ico.imageCount(), sizes.size());
    QList<int> icoSizes;
    for (int i = 0; i < ico.imageCount(); ++i) {
        QVERIFY(ico.jumpToImage(i));
        icoSizes << ico.read().width();
    }
    QCOMPARE(icoSizes, sizes);
    for (int size : sizes) {
        const QImage png(
            QDir(resourcesDir()).filePath(QStringLiteral("icons/quillmor-%1.png").arg(size)));
        QCOMPARE(png.size(), QSize(size, size));
    }
}

void TestAppIdentity::desktopEntryNamesInstalledIcon()
{
    QSettings entry(
        QDir(resourcesDir()).filePath(QStringLiteral("com.quillmor.mikrotiksetup.desktop")),
        QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    QCOMPARE(entry.value(QStringLiteral("Type")).toString(), QStringLiteral("Application"));
    QCOMPARE(entry.value(QStringLiteral("Exec")).toString(), QStringLiteral("QuillmorMikroTikSetup"));
    // The install rules rename every hicolor PNG to this name.
    QCOMPARE(entry.value(QStringLiteral("Icon")).toString(), QStringLiteral("quillmormikrotiksetup"));
}

int main(int argc, char *argv[])
{
    QList<QByteArray> storage{argc > 0 ? QByteArray(argv[0]) : QByteArray("tst_appidentity"),
                              QByteArray("-style"), QByteArray("Windows")};
    for (int i = 1; i < argc; ++i)
        storage << QByteArray(argv[i]);
    QList<char *> args;
    for (QByteArray &arg : storage)
        args << arg.data();
    int count = int(args.size());
    QApplication app(count, args.data());
    applyApplicationIdentity(app);
    TestAppIdentity test;
    // QApplication has taken "-style Windows"; hand QTest only the program name and its own options.
    return QTest::qExec(&test, count, args.data());
}

#include "tst_appidentity.moc"
