// The built-in pictures of the upgrade windows, drawn in the 16 colours of
// the standard palette.
#pragma once

#include <QPixmap>

namespace kelvora::qtdetail {

// The wizard's picture: 118 x 218, a globe sending a download into a computer.
QPixmap BuiltInWizardPicture();
// The dialogs' icon: 32 x 32.
QPixmap BuiltInDialogIcon();

}  // namespace kelvora::qtdetail
