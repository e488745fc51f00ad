#pragma once

#include <QString>

// The window's one style sheet; object names ("title", "muted", "secondary", ...) pick the look.
[[nodiscard]] QString windowStyleSheet();

// Focus rings, kept apart from the window's look above: the flat buttons and fields of that look
// would otherwise show no sign of the keyboard focus at all.
[[nodiscard]] QString focusStyleSheet();
