#include "qt/Fonts.h"

#include <QStringList>

namespace kelvora::qtdetail {

QFont SansFont(int PixelHeight) {
  QFont f;
  f.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial", "Nimbus Sans", "DejaVu Sans"});
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(PixelHeight);
  return f;
}

QFont SerifFont(int PixelHeight, bool Bold, bool Italic) {
  QFont f;
  f.setFamilies({"Times New Roman", "Liberation Serif", "Nimbus Roman", "DejaVu Serif"});
  f.setStyleHint(QFont::Serif);
  f.setPixelSize(PixelHeight);
  f.setBold(Bold);
  f.setItalic(Italic);
  return f;
}

}  // namespace kelvora::qtdetail
