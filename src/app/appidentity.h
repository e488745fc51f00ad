#pragma once

class QApplication;

// The application's name, version, style and icon, applied once right after the application
// object exists and before any widget does.
void applyApplicationIdentity(QApplication &app);
