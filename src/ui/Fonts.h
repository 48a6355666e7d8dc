#pragma once

#include <QFont>
#include <QString>

namespace quarvel {

// The window is designed with Windows fonts ("宋体", "微软雅黑", "Arial", "COURIER NEW").
// Where they are missing, map them to the nearest installed families (the CJK font for the
// Chinese ones) so Chinese text renders.
void installFontSubstitutes();

QFont designFont(const QString& family, int pixelSize, bool bold = false);

} // namespace quarvel
