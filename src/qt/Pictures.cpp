#include "qt/Pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

namespace kelvora::qtdetail {

namespace {

// The 16 colours of the standard palette that the pictures use.
const QColor kNavy(0, 0, 128), kBlue(0, 0, 255), kTeal(0, 128, 128), kCyan(0, 255, 255), kGreen(0, 128, 0),
    kLime(0, 255, 0), kSilver(192, 192, 192), kGray(128, 128, 128), kWhite(255, 255, 255), kBlack(0, 0, 0),
    kYellow(255, 255, 0);

void DrawGlobe(QPainter& p, const QRect& r) {
  p.setPen(QPen(kNavy, 1));
  p.setBrush(kBlue);
  p.drawEllipse(r);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kCyan, 1));
  // Meridians and parallels.
  p.drawEllipse(r.adjusted(r.width() / 4, 0, -r.width() / 4, 0));
  p.drawLine(r.center().x(), r.top(), r.center().x(), r.bottom());
  p.drawLine(r.left(), r.center().y(), r.right(), r.center().y());
  const int dy = r.height() / 4;
  p.drawLine(r.left() + r.width() / 10, r.center().y() - dy, r.right() - r.width() / 10, r.center().y() - dy);
  p.drawLine(r.left() + r.width() / 10, r.center().y() + dy, r.right() - r.width() / 10, r.center().y() + dy);
  // Two continents.
  p.setPen(Qt::NoPen);
  p.setBrush(kGreen);
  const int w = r.width(), h = r.height();
  p.drawEllipse(QRect(r.left() + w / 5, r.top() + h / 5, w / 4, h / 3));
  p.drawEllipse(QRect(r.left() + w / 2, r.top() + h / 2, w / 3, h / 4));
}

void DrawArrowDown(QPainter& p, int cx, int top, int bottom, int width) {
  const int shaft = width / 3, head = (bottom - top) / 3;
  QPolygon arrow;
  arrow << QPoint(cx - shaft / 2, top) << QPoint(cx + shaft / 2, top) << QPoint(cx + shaft / 2, bottom - head)
        << QPoint(cx + width / 2, bottom - head) << QPoint(cx, bottom) << QPoint(cx - width / 2, bottom - head)
        << QPoint(cx - shaft / 2, bottom - head);
  p.setPen(QPen(kGreen, 1));
  p.setBrush(kLime);
  p.drawPolygon(arrow);
}

}  // namespace

QPixmap BuiltInWizardPicture() {
  QPixmap pm(118, 218);
  QPainter p(&pm);
  // Sky in bands of the palette's blues.
  const QColor bands[] = {kNavy, kBlue, kTeal};
  for (int i = 0; i < 3; ++i) p.fillRect(0, i * 40, 118, 40, bands[i]);
  p.fillRect(0, 120, 118, 98, kTeal);
  p.setPen(kCyan);
  for (int y = 124; y < 218; y += 6) p.drawLine(0, y, 117, y);

  DrawGlobe(p, QRect(29, 14, 60, 60));
  DrawArrowDown(p, 59, 80, 118, 30);

  // The computer: monitor, screen, stand and keyboard.
  p.setPen(QPen(kBlack, 1));
  p.setBrush(kSilver);
  p.drawRect(17, 124, 84, 58);
  p.setBrush(kNavy);
  p.drawRect(24, 130, 70, 44);
  p.setPen(kWhite);
  for (int i = 0; i < 4; ++i) p.drawLine(30, 138 + i * 9, 30 + 50 - i * 9, 138 + i * 9);
  p.setPen(QPen(kBlack, 1));
  p.setBrush(kGray);
  p.drawRect(47, 183, 24, 8);
  p.setBrush(kSilver);
  p.drawRect(12, 193, 94, 14);
  p.setPen(kGray);
  for (int x = 16; x < 104; x += 6) p.drawLine(x, 196, x, 204);
  p.setPen(kYellow);
  p.drawPoint(96, 177);
  return pm;
}

QPixmap BuiltInDialogIcon() {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  DrawGlobe(p, QRect(1, 1, 24, 24));
  DrawArrowDown(p, 23, 12, 31, 14);
  return pm;
}

}  // namespace kelvora::qtdetail
