// Persistent objects: objects that can copy themselves from another object and
// that declare the properties written to a component's stored layout.
#pragma once

#include "kelvora/kelvora_export.h"

#include "kelvora/Types.h"

namespace kelvora {

class TPropertyList;

class KELVORA_EXPORT TPersistent : public TObject {
 public:
  // Copies Source into this object. Source may be nullptr: classes that accept
  // "nothing" restore their defaults. The base asks Source to AssignTo this
  // object and raises EConvertError when neither side knows the other.
  virtual void Assign(const TPersistent* Source);

  // Declares the stored properties in declaration order. Overrides call the
  // inherited version first so that the base's properties come first.
  virtual void DefineProperties(TPropertyList& List);

 protected:
  virtual void AssignTo(TPersistent* Dest) const;
};

}  // namespace kelvora
