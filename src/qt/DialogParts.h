// Pieces the two small dialogs share.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

namespace kelvora::qtdetail {

// The window flags of a fixed-size, topmost dialog.
Qt::WindowFlags TopmostDialogFlags();
QLabel* NamedLabel(QWidget* Parent, const char* Name, const QString& Text);
QPushButton* NamedButton(QWidget* Parent, const char* Name, const QString& Text, const QRect& Geometry);
// The height a word-wrapped label needs at its current width.
int WrappedHeight(QLabel* Label);
// Centres a top-level window on the primary screen.
void CentreOnScreen(QWidget* W);

}  // namespace kelvora::qtdetail
