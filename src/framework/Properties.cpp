#include "kelvora/Properties.h"

#include "kelvora/Persistent.h"
#include "kelvora/StoredLayout.h"
#include "kelvora/Streams.h"
#include "kelvora/StringList.h"

namespace kelvora {

namespace {

using Json = TPropertyList::Json;

std::function<bool()> StoredWhen(std::function<bool()> differs, TPropertyList::StoredFn extra) {
  if (!extra) return differs;
  return [differs = std::move(differs), extra = std::move(extra)] { return extra() && differs(); };
}

template <class T>
std::function<bool()> DiffersFrom(std::function<T()> get, std::optional<T> def) {
  if (!def) return [] { return true; };
  return [get, d = *def] { return !(get() == d); };
}

int OrdinalOf(const std::vector<std::string>& names, const std::string& name) {
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<int>(i);
  throw EReadError("Invalid property value " + name);
}

std::string ToHex(const TMemoryStream& s) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(static_cast<size_t>(s.ToString().size() * 2));
  for (unsigned char c : s.ToString()) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  throw EReadError("Invalid binary property value");
}

}  // namespace

void TPropertyList::Boolean(const std::string& Name, std::function<bool()> Get, std::function<void(bool)> Set,
                            std::optional<bool> Default, StoredFn Stored) {
  Add({Name, StoredWhen(DiffersFrom(Get, Default), std::move(Stored)), [Get] { return Json(Get()); },
       [Set](const Json& v) { Set(v.get<bool>()); }});
}

void TPropertyList::Integer(const std::string& Name, std::function<int64_t()> Get, std::function<void(int64_t)> Set,
                            std::optional<int64_t> Default, StoredFn Stored) {
  Add({Name, StoredWhen(DiffersFrom(Get, Default), std::move(Stored)), [Get] { return Json(Get()); },
       [Set](const Json& v) { Set(v.get<int64_t>()); }});
}

void TPropertyList::String(const std::string& Name, std::function<std::string()> Get,
                           std::function<void(const std::string&)> Set, std::optional<std::string> Default,
                           StoredFn Stored) {
  Add({Name, StoredWhen(DiffersFrom(Get, Default), std::move(Stored)), [Get] { return Json(Get()); },
       [Set](const Json& v) { Set(v.get<std::string>()); }});
}

void TPropertyList::Enum(const std::string& Name, std::vector<std::string> Names, std::function<int()> Get,
                         std::function<void(int)> Set, std::optional<int> Default, StoredFn Stored) {
  Add({Name, StoredWhen(DiffersFrom(Get, Default), std::move(Stored)),
       [Get, Names] {
         int v = Get();
         return v >= 0 && v < static_cast<int>(Names.size()) ? Json(Names[static_cast<size_t>(v)]) : Json(v);
       },
       [Set, Names](const Json& v) { Set(OrdinalOf(Names, v.get<std::string>())); }});
}

void TPropertyList::Set(const std::string& Name, std::vector<std::string> Names, std::function<uint32_t()> Get,
                        std::function<void(uint32_t)> Set, std::optional<uint32_t> Default, StoredFn Stored) {
  Add({Name, StoredWhen(DiffersFrom(Get, Default), std::move(Stored)),
       [Get, Names] {
         Json members = Json::array();
         uint32_t v = Get();
         for (size_t i = 0; i < Names.size() && i < 32; ++i)
           if (v & (1u << i)) members.push_back(Names[i]);
         return members;
       },
       [Set, Names](const Json& v) {
         uint32_t bits = 0;
         for (const auto& m : v) bits |= 1u << OrdinalOf(Names, m.get<std::string>());
         Set(bits);
       }});
}

void TPropertyList::Strings(const std::string& Name, TStringList& List, StoredFn Stored) {
  auto nonEmpty = [&List] { return List.Count() > 0; };
  Add({Name, StoredWhen(nonEmpty, std::move(Stored)),
       [&List] {
         Json lines = Json::array();
         for (const auto& s : List) lines.push_back(s);
         return lines;
       },
       [&List](const Json& v) {
         List.BeginUpdate();
         List.Clear();
         for (const auto& s : v) List.Add(s.get<std::string>());
         List.EndUpdate();
       }});
}

void TPropertyList::Object(const std::string& Name, TPersistent& Obj) {
  Add({Name, [&Obj] { return !WriteProperties(Obj).empty(); }, [&Obj] { return WriteProperties(Obj); },
       [&Obj](const Json& v) { ReadProperties(Obj, v); }});
}

void TPropertyList::Binary(const std::string& Name, std::function<void(TStream&)> Write,
                           std::function<void(TStream&)> Read, StoredFn Stored) {
  Add({Name, Stored ? Stored : [] { return true; },
       [Write] {
         TMemoryStream s;
         Write(s);
         return Json(ToHex(s));
       },
       [Read](const Json& v) {
         const std::string hex = v.get<std::string>();
         if (hex.size() % 2 != 0) throw EReadError("Invalid binary property value");
         TMemoryStream s;
         for (size_t i = 0; i < hex.size(); i += 2) {
           uint8_t b = static_cast<uint8_t>(HexDigit(hex[i]) * 16 + HexDigit(hex[i + 1]));
           s.WriteBuffer(&b, 1);
         }
         s.SetPosition(0);
         Read(s);
       }});
}

}  // namespace kelvora
