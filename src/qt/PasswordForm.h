// The password dialog: user name and password for a protected download.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QWidget;

namespace kelvora::qtdetail {

class TkvKelvoraPasswordForm : public QDialog {
 public:
  TkvKelvoraPasswordForm();

  // Fills the dialog: the request Text, the previous user name, an empty
  // password; grows it to fit the text.
  void Fill(const std::string& Text, const std::string& Username);
  // Fill, then shows it modally. On OK (true) Username and Password hold
  // what was entered; Cancel changes neither.
  bool Ask(const std::string& Text, std::string& Username, std::string& Password);

 private:
  QLabel* Label1 = nullptr;
  QLabel* Image1 = nullptr;
  // Holds Label1 while the text is too long for the screen.
  QScrollArea* TextArea = nullptr;
  QWidget* BottomPanel = nullptr;
  QLabel* UsernameLab = nullptr;
  QLabel* PasswordLab = nullptr;
  QLineEdit* UsernameEdit = nullptr;
  QLineEdit* PasswordEdit = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;
};

}  // namespace kelvora::qtdetail
