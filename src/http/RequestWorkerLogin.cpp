// The request worker's logins: asking the UI thread for a server or proxy
// login when the server answers 401 or 407.
#include "http/HttpData.h"
#include "http/RequestWorker.h"

#include <cctype>

namespace kelvora::httpimpl {

namespace {

using namespace net;

// The realm of a challenge: the quoted value of realm="...". Values without
// it fall back to the text after the first '="' without its last character.
std::string RealmOf(const std::string& Challenge) {
  std::string lower = Challenge;
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t at = lower.find("realm=\"");
  if (at != std::string::npos) {
    const size_t from = at + 7;
    const size_t to = Challenge.find('"', from);
    if (to != std::string::npos) return Challenge.substr(from, to - from);
  }
  const size_t q = Challenge.find("=\"");
  if (q == std::string::npos) return Challenge;
  std::string realm = Challenge.substr(q + 2);
  if (!realm.empty()) realm.pop_back();
  return realm;
}

}  // namespace

void TRequestWorker::AskPassword() {
  std::string challenge;
  t_.Success = QueryText(qiWWWAuthenticate, challenge);
  const std::string realm = t_.Success ? RealmOf(challenge) : std::string();
  t_.ContentType = realm;
  Sync([&] {
    TkvCustomHTTP& c = *t_.Owner;
    c.Publish(t_, false);
    bool tryAgain = t_.Retry;
    std::weak_ptr<bool> alive = c.d_->alive_;
    if (c.OnHTTPPasswordRequest) c.OnHTTPPasswordRequest(&c, realm, tryAgain);
    t_.Retry = tryAgain;
    if (alive.expired()) return;  // freed by its handler
    s_.Username = c.HTTPUsername();
    s_.Password = c.HTTPPassword();
  });
  t_.Request->SetOption(optUsername, s_.Username);
  t_.Request->SetOption(optPassword, s_.Password);
}

void TRequestWorker::AskProxyLogin() {
  Sync([&] {
    TkvCustomHTTP& c = *t_.Owner;
    c.Publish(t_, false);
    bool tryAgain = t_.Retry;
    std::string user = c.Proxy().ProxyUsername(), pass = c.Proxy().ProxyPassword();
    std::weak_ptr<bool> alive = c.d_->alive_;
    if (c.OnProxyAuthenticationRequest) c.OnProxyAuthenticationRequest(&c, user, pass, tryAgain);
    t_.Retry = tryAgain;
    if (alive.expired()) return;  // freed by its handler
    c.Proxy().SetProxyUsername(user);
    c.Proxy().SetProxyPassword(pass);
    s_.ProxyUsername = user;
    s_.ProxyPassword = pass;
  });
  t_.Request->SetOption(optProxyUsername, s_.ProxyUsername);
  t_.Request->SetOption(optProxyPassword, s_.ProxyPassword);
}

}  // namespace kelvora::httpimpl
