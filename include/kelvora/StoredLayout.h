// The stored layout of components: a JSON text holding each component's name,
// class and stored properties, with the components it owns nested inside.
//
//   { "Name": "Form1", "Class": "TForm", "Properties": { ... },
//     "Components": [ { "Name": "Kelvora1", ... } ] }
//
// Properties are written in declaration order and read back in declaration
// order whatever their order in the text, so setters may rely on the values
// declared before them.
#pragma once

#include "kelvora/kelvora_export.h"

#include <string>

#include "kelvora/Component.h"
#include "kelvora/Properties.h"

namespace kelvora {

// The stored properties of one persistent object.
KELVORA_EXPORT TPropertyList::Json WriteProperties(TPersistent& Obj);
KELVORA_EXPORT void ReadProperties(TPersistent& Obj, const TPropertyList::Json& Stored);

// A component with the components it owns. ClassName names it in the text.
KELVORA_EXPORT std::string WriteComponentText(TComponent& Root, const std::string& ClassName = "");
// Applies a stored layout to Root and to the owned components whose names it
// lists. All of them are in the loading state while their values are applied;
// then each gets Loaded() once, root last. Raises EReadError on a malformed text.
KELVORA_EXPORT void ReadComponentText(TComponent& Root, const std::string& Text);

}  // namespace kelvora
