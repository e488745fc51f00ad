#include "appidentity.h"
#include "quitsignals.h"
#include "ui/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    applyApplicationIdentity(app);
    int exitCode = 0;
    {
        MainWindow window;
        closeOnQuitSignals(&window);
        window.show();
        exitCode = QApplication::exec();
    }
    return exitCode;
}
