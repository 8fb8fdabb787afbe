// The faces the windows were designed with, or the nearest installed ones
// at the same pixel heights.
#pragma once

#include <QFont>

namespace kelvora::qtdetail {

// "MS Sans Serif" or the nearest sans-serif face, PixelHeight pixels high.
QFont SansFont(int PixelHeight);
// "Times New Roman" or the nearest serif face.
QFont SerifFont(int PixelHeight, bool Bold, bool Italic);

}  // namespace kelvora::qtdetail
