// One start-up of a window, for the start-up benchmark: prints "painted" once the first frame of
// the window has been painted, then keeps running until it is killed. Built three times: with the
// product's window and identity, with a bare window of the same size, and with that bare window
// holding one label and one text field, the least a window that shows text can be.
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#ifdef QUILLMOR_BENCH_APP
#include "appidentity.h"
#include "ui/mainwindow.h"
#else
#include <QMainWindow>
#endif
#ifdef QUILLMOR_BENCH_TEXT
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#endif

namespace {

class FirstPaintReporter final : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_seen && event->type() == QEvent::Paint) {
            m_seen = true;
            // The zero timer runs once the whole frame this paint belongs to has been flushed.
            QTimer::singleShot(0, [] {
                std::fputs("painted\n", stdout);
                std::fflush(stdout);
                // A profiler run (valgrind) wants the program to end by itself, and to count
                // nothing past the first frame: no further events, no clean-up.
                if (qEnvironmentVariableIsSet("QUILLMOR_BENCH_QUIT"))
                    std::_Exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    FirstPaintReporter reporter;
    app.installEventFilter(&reporter);
#ifdef QUILLMOR_BENCH_APP
    applyApplicationIdentity(app);
    MainWindow window;
#else
    QApplication::setStyle(QStringLiteral("Fusion"));
    QMainWindow window;
    window.resize(980, 720);
#ifdef QUILLMOR_BENCH_TEXT
    auto *central = new QWidget;
    auto *column = new QVBoxLayout(central);
    column->addWidget(new QLabel(QStringLiteral("Sign in with your account number")));
    column->addWidget(new QLineEdit);
    window.setCentralWidget(central);
#endif
#endif
    window.show();
    return QApplication::exec();
}
