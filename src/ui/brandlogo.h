#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

// The logo as the window shows it (34, 56 and 84 pixels): each size decoded once, from a copy
// shipped at that size, instead of decoding the full-size artwork for every label.
[[nodiscard]] QPixmap brandLogo(int size);

// One PNG shipped in the resources. The format is told, and guessing from the contents is off:
// otherwise the reader loads every image format plugin there is to ask each one.
[[nodiscard]] QImage readShippedPng(const QString &path);
