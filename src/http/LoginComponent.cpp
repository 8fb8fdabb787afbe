// TkvLoginComponent: the login stored as the byte-stream property "LInfo".
#include "kelvora/Properties.h"
#include "kelvora/kvHTTP.h"

namespace kelvora {

TkvLoginComponent::TkvLoginComponent(TComponent* AOwner) : TComponent(AOwner) {}

void TkvLoginComponent::DefineProperties(TPropertyList& List) {
  TComponent::DefineProperties(List);
  List.Binary(
      "LInfo", [this](TStream& S) { WriteLogin(S); }, [this](TStream& S) { ReadLogin(S); },
      [this] { return !httpUsername_.empty() || !httpPassword_.empty(); });
}

void TkvLoginComponent::WriteLogin(TStream& Stream) const {
  const size_t total = httpUsername_.size() + httpPassword_.size() + 1;
  // One byte counts the whole record: a longer login cannot be stored.
  if (total > 255)
    throw EWriteError("Cannot store the login: user name and password together exceed 254 bytes");
  const auto l = static_cast<uint8_t>(total);
  const uint8_t mask = static_cast<uint8_t>(l ^ kvLoginKey);
  std::string rec;
  rec.reserve(total + 1);
  rec += static_cast<char>(l);
  rec += static_cast<char>(static_cast<uint8_t>(httpUsername_.size()) ^ mask);
  for (char c : httpUsername_) rec += static_cast<char>(static_cast<uint8_t>(c) ^ mask);
  for (char c : httpPassword_) rec += static_cast<char>(static_cast<uint8_t>(c) ^ mask);
  Stream.WriteBuffer(rec.data(), static_cast<int64_t>(rec.size()));
}

void TkvLoginComponent::ReadLogin(TStream& Stream) {
  uint8_t l = 0;
  Stream.ReadBuffer(&l, 1);
  std::string rec(l, '\0');
  if (l > 0) Stream.ReadBuffer(rec.data(), l);
  const uint8_t mask = static_cast<uint8_t>(l ^ kvLoginKey);
  for (auto& c : rec) c = static_cast<char>(static_cast<uint8_t>(c) ^ mask);
  if (l == 0) throw EReadError("Invalid stored login");
  const size_t n = static_cast<uint8_t>(rec[0]);
  if (n > static_cast<size_t>(l) - 1) throw EReadError("Invalid stored login");
  httpUsername_ = rec.substr(1, n);
  httpPassword_ = rec.substr(1 + n);
}

}  // namespace kelvora
