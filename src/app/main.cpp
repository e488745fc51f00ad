#include "appidentity.h"
#include "ui/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    applyApplicationIdentity(app);
    int exitCode = 0;
    {
        MainWindow window;
        window.show();
        exitCode = QApplication::exec();
    }
    return exitCode;
}
