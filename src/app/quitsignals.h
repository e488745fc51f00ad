#pragma once

class QWidget;

// On Unix, SIGTERM, SIGINT and SIGHUP close the window as the user would: the running job is
// cancelled and its child process ends before the app does. A second such signal ends the app at
// once. Does nothing on other platforms.
void closeOnQuitSignals(QWidget *window);
