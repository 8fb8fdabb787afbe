// The ask-upgrade dialog: install the new version now, or later.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QPushButton;
class QScrollArea;
class QWidget;

namespace kelvora::qtdetail {

class TkvKelvoraUpgradeMessageForm : public QDialog {
 public:
  TkvKelvoraUpgradeMessageForm();

  // Fills the dialog with the question Text and grows it to fit, up to what
  // the screen holds; a longer text scrolls in TextArea.
  void Fill(const std::string& Text);
  // Fill, then shows it modally: true when the answer is Yes.
  bool Ask(const std::string& Text);

 private:
  QWidget* BottomPanel = nullptr;
  QPushButton* YesBtn = nullptr;
  QPushButton* LaterBtn = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Icon = nullptr;
  // Holds Label1 while the text is too long for the screen.
  QScrollArea* TextArea = nullptr;
};

}  // namespace kelvora::qtdetail
