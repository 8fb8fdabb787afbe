// Pieces the two small dialogs share.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class QScreen;
class QWidget;

namespace kelvora::qtdetail {

// The window flags of a fixed-size, topmost dialog.
Qt::WindowFlags TopmostDialogFlags();
QLabel* NamedLabel(QWidget* Parent, const char* Name, const QString& Text);
QPushButton* NamedButton(QWidget* Parent, const char* Name, const QString& Text, const QRect& Geometry);
// The height a word-wrapped label needs at its current width.
int WrappedHeight(QLabel* Label);
// The screen a dialog opens on: the active window's, else the primary one.
QScreen* DialogScreen();
// Centres a top-level window on that screen's available area, keeping its
// top left corner (caption) inside it.
void CentreOnScreen(QWidget* W);
// The height a dialog's text may take on that screen: the dialog at most two
// thirds of the available height, Fixed of which the rest takes; at least
// MinHeight.
int TextRoom(int Fixed, int MinHeight);

}  // namespace kelvora::qtdetail
