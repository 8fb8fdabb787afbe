// Pieces the two small dialogs share.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class QScreen;
class QScrollArea;
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
// A box for a dialog's text that is too long for the screen (hidden until
// used).
QScrollArea* NewTextArea(QWidget* Dialog);
// Sets a word-wrapped Label's Text and places it at At, Width wide: on the
// dialog while it fits Room, otherwise inside Area, which scrolls and is
// Room high. Returns the height it takes.
int PlaceBoundedLabel(QLabel* Label, QScrollArea* Area, const QString& Text, QPoint At, int Width, int Room);

}  // namespace kelvora::qtdetail
