#pragma once

#include <QString>

// The window's one style sheet; object names ("title", "muted", "secondary", ...) pick the look.
[[nodiscard]] QString windowStyleSheet();
