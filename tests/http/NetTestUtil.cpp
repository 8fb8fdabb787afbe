#include "http/NetTestUtil.h"

#include "http/UrlParts.h"

namespace kvtest {

using namespace kelvora::net;

TStatusCallback StatusLog::Callback() {
  return [this](void*, uint32_t Status, const void* Info, uint32_t Length) {
    std::string text;
    if (Info != nullptr && Length > 0) text.assign(static_cast<const char*>(Info), Length - 1);
    std::lock_guard lk(mutex_);
    entries_.emplace_back(Status, text);
  };
}

std::vector<uint32_t> StatusLog::Codes() const {
  std::lock_guard lk(mutex_);
  std::vector<uint32_t> out;
  for (const auto& e : entries_) out.push_back(e.first);
  return out;
}

std::vector<std::string> StatusLog::Texts(uint32_t Code) const {
  std::lock_guard lk(mutex_);
  std::vector<std::string> out;
  for (const auto& e : entries_)
    if (e.first == Code) out.push_back(e.second);
  return out;
}

bool StatusLog::Has(uint32_t Code) const { return !Texts(Code).empty(); }

void StatusLog::Clear() {
  std::lock_guard lk(mutex_);
  entries_.clear();
}

NetTarget OpenRequest(const std::string& Url, uint32_t Flags, const std::string& Method,
                      std::shared_ptr<TNetClient> Client, StatusLog* Log, TAccessType Access, const std::string& Proxy) {
  kelvora::httpimpl::TUrlParts u;
  kelvora::httpimpl::CrackUrl(Url, u);
  NetTarget t;
  t.Client = Client ? Client : std::make_shared<TNetClient>();
  t.Session = std::make_shared<TNetSession>(t.Client, "kvtest", Access, Proxy, "", 0);
  if (Log != nullptr) t.Session->SetStatusCallback(Log->Callback());
  t.Connection = std::make_shared<TNetConnection>(t.Session, u.HostName, u.Port, "", "", nullptr);
  const std::string object = (u.RawPath.empty() ? std::string("/") : u.RawPath) + u.RawExtraInfo;
  if (u.Scheme == "https") Flags |= flSecure;
  t.Request = std::make_unique<TNetRequest>(t.Connection, Method, object, "", "*/*", Flags, nullptr);
  return t;
}

BodyResult ReadBody(TNetRequest& Request, size_t BlockSize) {
  BodyResult r;
  std::string block(BlockSize, '\0');
  bool lastWasShort = false;
  for (int guard = 0; guard < 10000000; ++guard) {
    size_t n = 0;
    if (!Request.Read(block.data(), BlockSize, n)) return r;
    if (n == 0) {
      r.Ok = true;
      return r;
    }
    if (lastWasShort) r.AllBlocksFull = false;
    lastWasShort = n < BlockSize;
    r.Data.append(block.data(), n);
    ++r.Blocks;
  }
  return r;
}

}  // namespace kvtest
