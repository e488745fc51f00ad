#include "ui/mainwindow.h"

#include <QScreen>
#include <QTest>

// The window's first size on the screen it opens on. CTest runs this on a 1920x1080 screen, on an
// 800x600 one and on a 1280x900 one at a scale factor of 2.
class TestWindowFit final : public QObject
{
    Q_OBJECT

private slots:
    void fittedGeometry_data();
    void fittedGeometry();
    void windowOpensInsideTheScreen();
};

void TestWindowFit::fittedGeometry_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("room to spare") << QRect(0, 0, 1920, 1040) << QRect(470, 175, 980, 720);
    QTest::newRow("800x600 with a panel") << QRect(0, 32, 800, 568) << QRect(8, 70, 784, 522);
    QTest::newRow("1280x900 at 2x") << QRect(0, 0, 640, 450) << QRect(8, 38, 624, 404);
    QTest::newRow("second screen") << QRect(1920, 0, 1280, 1024) << QRect(2070, 167, 980, 720);
    // Below the minimum size the window keeps its title bar on the screen.
    QTest::newRow("tiny") << QRect(0, 0, 400, 300) << QRect(8, 38, 420, 360);
}

void TestWindowFit::fittedGeometry()
{
    QFETCH(QRect, available);
    QFETCH(QRect, expected);
    QCOMPARE(MainWindow::fittedGeometry(QSize(980, 720), QSize(420, 360), available,
                                        QMargins(8, 38, 8, 8)),
             expected);
}

void TestWindowFit::windowOpensInsideTheScreen()
{
    qputenv("QUILLMOR_BASE_URL", "http://127.0.0.1:9");
    qputenv("QUILLMOR_API_KEY", "test-key");
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect available = window.screen()->availableGeometry();
    QVERIFY2(available.contains(window.frameGeometry()),
             qPrintable(QStringLiteral("%1x%2 at %3,%4 on %5x%6")
                            .arg(window.frameGeometry().width())
                            .arg(window.frameGeometry().height())
                            .arg(window.x())
                            .arg(window.y())
                            .arg(available.width())
                            .arg(available.height())));
    if (available.width() >= 1200 && available.height() >= 900)
        QCOMPARE(window.size(), QSize(980, 720));
    else
        QVERIFY(window.width() < 980 || window.height() < 720);
}

QTEST_MAIN(TestWindowFit)
#include "tst_windowfit.moc"
