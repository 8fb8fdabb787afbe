// Declared (published) properties of persistent objects, as written to and
// read from a component's stored layout. Each entry knows its name, whether it
// differs from its declared default, and how to write and read its value.
#pragma once

#include "kelvora/kelvora_export.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace kelvora {

class TPersistent;
class TStream;
class TStringList;

class KELVORA_EXPORT TPropertyList {
 public:
  using Json = nlohmann::ordered_json;
  // Extra "stored" condition beyond the default test; empty means always.
  using StoredFn = std::function<bool()>;

  struct Entry {
    std::string Name;
    std::function<bool()> IsStored;
    std::function<Json()> Write;
    std::function<void(const Json&)> Read;
  };

  // A property whose value equals its declared default is not stored; a
  // property without a declared default (std::nullopt) is always stored.
  void Boolean(const std::string& Name, std::function<bool()> Get, std::function<void(bool)> Set,
               std::optional<bool> Default, StoredFn Stored = {});
  void Integer(const std::string& Name, std::function<int64_t()> Get, std::function<void(int64_t)> Set,
               std::optional<int64_t> Default, StoredFn Stored = {});
  void String(const std::string& Name, std::function<std::string()> Get,
              std::function<void(const std::string&)> Set, std::optional<std::string> Default,
              StoredFn Stored = {});
  // Enumerations are stored by their value names (Names[ordinal]).
  void Enum(const std::string& Name, std::vector<std::string> Names, std::function<int()> Get,
            std::function<void(int)> Set, std::optional<int> Default, StoredFn Stored = {});
  // Sets are stored as the list of member names; bit (1 << ordinal) is member Names[ordinal].
  void Set(const std::string& Name, std::vector<std::string> Names, std::function<uint32_t()> Get,
           std::function<void(uint32_t)> Set, std::optional<uint32_t> Default, StoredFn Stored = {});
  // A string list, stored as an array of lines when it is not empty.
  void Strings(const std::string& Name, TStringList& List, StoredFn Stored = {});
  // An owned persistent object, stored as a nested object when any of its
  // own properties is stored.
  void Object(const std::string& Name, TPersistent& Obj);
  // A byte-stream property: Write fills the stream, Read consumes it. Stored
  // as lower-case hexadecimal text, only when Stored says so.
  void Binary(const std::string& Name, std::function<void(TStream&)> Write,
              std::function<void(TStream&)> Read, StoredFn Stored);

  void Add(Entry E) { entries_.push_back(std::move(E)); }
  const std::vector<Entry>& Entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
};

}  // namespace kelvora
