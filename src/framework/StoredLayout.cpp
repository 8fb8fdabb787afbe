#include "kelvora/StoredLayout.h"

#include <typeinfo>
#include <vector>

#include "kelvora/Streams.h"

namespace kelvora {

using Json = TPropertyList::Json;

Json WriteProperties(TPersistent& Obj) {
  TPropertyList list;
  Obj.DefineProperties(list);
  Json out = Json::object();
  for (const auto& e : list.Entries())
    if (e.IsStored()) out[e.Name] = e.Write();
  return out;
}

void ReadProperties(TPersistent& Obj, const Json& Stored) {
  if (!Stored.is_object()) throw EReadError("Stored properties must be an object");
  TPropertyList list;
  Obj.DefineProperties(list);
  // Declaration order, not the order of the text.
  for (const auto& e : list.Entries()) {
    auto it = Stored.find(e.Name);
    if (it == Stored.end()) continue;
    try {
      e.Read(*it);
    } catch (const nlohmann::json::exception& ex) {
      throw EReadError("Error reading " + e.Name + ": " + ex.what());
    }
  }
}

namespace {

Json WriteComponent(TComponent& c, const std::string& className) {
  Json out = Json::object();
  out["Name"] = c.Name();
  if (!className.empty()) out["Class"] = className;
  out["Properties"] = WriteProperties(c);
  Json children = Json::array();
  for (int i = 0; i < c.ComponentCount(); ++i) {
    TComponent* child = c.Components(i);
    if (!child->Name().empty()) children.push_back(WriteComponent(*child, ""));
  }
  if (!children.empty()) out["Components"] = children;
  return out;
}

void ReadComponent(TComponent& c, const Json& stored, std::vector<TComponent*>& loaded) {
  if (!stored.is_object()) throw EReadError("A stored component must be an object");
  c.BeginLoading();
  loaded.push_back(&c);
  if (auto p = stored.find("Properties"); p != stored.end()) ReadProperties(c, *p);
  if (auto list = stored.find("Components"); list != stored.end() && list->is_array()) {
    for (const auto& child : *list) {
      auto name = child.find("Name");
      if (name == child.end() || !name->is_string()) throw EReadError("A stored component has no name");
      TComponent* target = c.FindComponent(name->get<std::string>());
      if (target == nullptr) throw EReadError("Component " + name->get<std::string>() + " not found");
      ReadComponent(*target, child, loaded);
    }
  }
}

}  // namespace

std::string WriteComponentText(TComponent& Root, const std::string& ClassName) {
  return WriteComponent(Root, ClassName).dump(2);
}

void ReadComponentText(TComponent& Root, const std::string& Text) {
  Json stored;
  try {
    stored = Json::parse(Text);
  } catch (const nlohmann::json::exception& ex) {
    throw EReadError(std::string("Malformed stored layout: ") + ex.what());
  }
  std::vector<TComponent*> loaded;
  try {
    ReadComponent(Root, stored, loaded);
  } catch (...) {
    // A failed read leaves nothing in the loading state.
    for (TComponent* c : loaded) c->AbandonLoading();
    throw;
  }
  // Owned components first, the root last, as a form finishes loading.
  for (auto it = loaded.rbegin(); it != loaded.rend(); ++it) (*it)->Loaded();
}

}  // namespace kelvora
