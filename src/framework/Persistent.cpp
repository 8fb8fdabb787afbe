#include "kelvora/Persistent.h"

#include <typeinfo>

namespace kelvora {

void TPersistent::Assign(const TPersistent* Source) {
  if (Source != nullptr) {
    Source->AssignTo(this);
    return;
  }
  throw EConvertError(std::string("Cannot assign nothing to a ") + typeid(*this).name());
}

void TPersistent::AssignTo(TPersistent* Dest) const {
  throw EConvertError(std::string("Cannot assign a ") + typeid(*this).name() + " to a " + typeid(*Dest).name());
}

void TPersistent::DefineProperties(TPropertyList&) {}

}  // namespace kelvora
