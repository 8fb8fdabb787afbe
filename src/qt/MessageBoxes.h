// The standard message boxes, from the flags and answers of kvUpgradeUI.h.
#pragma once

#include <QMessageBox>
#include <string>

namespace kelvora::qtdetail {

// The buttons and icon Flags ask for; an unknown button set gives OK.
QMessageBox::StandardButtons ButtonsOf(unsigned Flags);
QMessageBox::Icon IconOf(unsigned Flags);
// The answer (idOK, idCancel, idYes, idNo, ...) of a standard button.
int AnswerOf(QMessageBox::StandardButton Button);

// Shows a modal message box above Parent (or the application) and returns
// the answer. System-modal boxes stay above every window.
int ShowMessageBox(QWidget* Parent, const std::string& Text, const std::string& Caption, unsigned Flags);

}  // namespace kelvora::qtdetail
