// The settings objects of TkvCustomHTTP.
#include "http/DefaultTimeouts.h"
#include "kelvora/Properties.h"
#include "kelvora/kvHTTP.h"

namespace kelvora {

namespace {
const std::vector<std::string> kAccessTypeNames = {"atPreconfig", "atDirect", "atUseProxy"};
const std::vector<std::string> kAttributeNames = {"atrArchive", "atrHidden", "atrReadOnly",
                                                  "atrSystem",  "atrTemporary", "atrOffline"};
}  // namespace

// --- TkvHTTPProxy ---

TkvHTTPProxy::TkvHTTPProxy() = default;

void TkvHTTPProxy::Assign(const TPersistent* Source) {
  if (Source == nullptr) {
    accessType_ = atPreconfig;
    proxyPort_ = 8080;
    proxyServer_.clear();
    proxyBypass_ = "127.0.0.1;";
    proxyUsername_.clear();
    proxyPassword_.clear();
    return;
  }
  if (auto* p = dynamic_cast<const TkvHTTPProxy*>(Source)) {
    accessType_ = p->accessType_;
    proxyPort_ = p->proxyPort_;
    proxyServer_ = p->proxyServer_;
    proxyBypass_ = p->proxyBypass_;
    proxyUsername_ = p->proxyUsername_;
    proxyPassword_ = p->proxyPassword_;
    return;
  }
  TPersistent::Assign(Source);
}

void TkvHTTPProxy::DefineProperties(TPropertyList& L) {
  TPersistent::DefineProperties(L);
  auto useProxy = [this] { return accessType_ == atUseProxy; };
  L.Enum("AccessType", kAccessTypeNames, [this] { return static_cast<int>(accessType_); },
         [this](int v) { accessType_ = static_cast<TkvHTTPAccessType>(v); }, static_cast<int>(atPreconfig));
  L.Integer("ProxyPort", [this] { return int64_t{proxyPort_}; }, [this](int64_t v) { proxyPort_ = static_cast<int32_t>(v); },
            8080);
  L.String("ProxyServer", [this] { return proxyServer_; }, [this](const std::string& v) { proxyServer_ = v; },
           std::string(), useProxy);
  // No declared default: stored whenever it is not empty (and a proxy is used).
  L.String("ProxyBypass", [this] { return proxyBypass_; }, [this](const std::string& v) { proxyBypass_ = v; },
           std::string(), useProxy);
  L.String("ProxyUsername", [this] { return proxyUsername_; }, [this](const std::string& v) { proxyUsername_ = v; },
           std::string());
  L.String("ProxyPassword", [this] { return proxyPassword_; }, [this](const std::string& v) { proxyPassword_ = v; },
           std::string());
}

// --- TkvHTTPRange ---

void TkvHTTPRange::Assign(const TPersistent* Source) {
  if (Source == nullptr) {
    startRange_ = endRange_ = 0;
    return;
  }
  if (auto* r = dynamic_cast<const TkvHTTPRange*>(Source)) {
    startRange_ = r->startRange_;
    endRange_ = r->endRange_;
    return;
  }
  TPersistent::Assign(Source);
}

void TkvHTTPRange::DefineProperties(TPropertyList& L) {
  TPersistent::DefineProperties(L);
  L.Integer("StartRange", [this] { return int64_t{startRange_}; },
            [this](int64_t v) { startRange_ = static_cast<uint32_t>(v); }, 0);
  L.Integer("EndRange", [this] { return int64_t{endRange_}; }, [this](int64_t v) { endRange_ = static_cast<uint32_t>(v); },
            0);
}

// --- TkvHTTPTimeouts ---

void TkvHTTPTimeouts::Assign(const TPersistent* Source) {
  if (Source == nullptr) {
    connectTimeout_ = receiveTimeout_ = sendTimeout_ = 0;
    return;
  }
  if (auto* t = dynamic_cast<const TkvHTTPTimeouts*>(Source)) {
    connectTimeout_ = t->connectTimeout_;
    receiveTimeout_ = t->receiveTimeout_;
    sendTimeout_ = t->sendTimeout_;
    return;
  }
  TPersistent::Assign(Source);
}

void TkvHTTPTimeouts::DefineProperties(TPropertyList& L) {
  TPersistent::DefineProperties(L);
  L.Integer("ConnectTimeout", [this] { return int64_t{connectTimeout_}; },
            [this](int64_t v) { connectTimeout_ = static_cast<uint32_t>(v); }, 0);
  L.Integer("ReceiveTimeout", [this] { return int64_t{receiveTimeout_}; },
            [this](int64_t v) { receiveTimeout_ = static_cast<uint32_t>(v); }, 0);
  L.Integer("SendTimeout", [this] { return int64_t{sendTimeout_}; },
            [this](int64_t v) { sendTimeout_ = static_cast<uint32_t>(v); }, 0);
}

// --- TkvOutputFileAttributes ---

void TkvOutputFileAttributes::Assign(const TPersistent* Source) {
  if (Source == nullptr) {
    complete_ = DefaultComplete();
    incomplete_ = DefaultIncomplete();
    return;
  }
  if (auto* a = dynamic_cast<const TkvOutputFileAttributes*>(Source)) {
    SetComplete(a->complete_);
    SetIncomplete(a->incomplete_);
    return;
  }
  TPersistent::Assign(Source);
}

void TkvOutputFileAttributes::DefineProperties(TPropertyList& L) {
  TPersistent::DefineProperties(L);
  L.Set("Complete", kAttributeNames, [this] { return uint32_t{complete_.Byte()}; },
        [this](uint32_t v) { SetComplete(TkvFileAttributes::FromByte(static_cast<uint8_t>(v))); },
        uint32_t{DefaultComplete().Byte()});
  L.Set("Incomplete", kAttributeNames, [this] { return uint32_t{incomplete_.Byte()}; },
        [this](uint32_t v) { SetIncomplete(TkvFileAttributes::FromByte(static_cast<uint8_t>(v))); },
        uint32_t{DefaultIncomplete().Byte()});
}

}  // namespace kelvora

namespace kelvora::httpimpl {

TDefaultTimeouts& DefaultTimeouts() {
  static TDefaultTimeouts defaults;
  return defaults;
}

}  // namespace kelvora::httpimpl
