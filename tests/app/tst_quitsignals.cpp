#include "quitsignals.h"

#include <csignal>

#include <QApplication>
#include <QTest>
#include <QWidget>

// A signal to quit reaches the window as a close, so that the running job is cancelled and its
// child ends, as when the user closes the window.
class TestQuitSignals final : public QObject
{
    Q_OBJECT

private slots:
    void signalClosesTheWindow_data();
    void signalClosesTheWindow();
};

void TestQuitSignals::signalClosesTheWindow_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestQuitSignals::signalClosesTheWindow()
{
    QFETCH(int, signalNumber);
    QWidget window;
    closeOnQuitSignals(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(::raise(signalNumber), 0);
    // Still alive here: the handler only hands the signal on to the event loop.
    QTRY_VERIFY(!window.isVisible());
}

QTEST_MAIN(TestQuitSignals)
#include "tst_quitsignals.moc"
