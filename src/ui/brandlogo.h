#pragma once

#include <QPixmap>

// The logo as the window shows it (34, 56 and 84 pixels): decoded once, from a copy made at twice
// the largest of those sizes, instead of decoding the full-size artwork for every label.
[[nodiscard]] QPixmap brandLogo(int size);
