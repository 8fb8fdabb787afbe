// rollout, halt and simulate: who is offered a release, changed and shown
// before the upload.
#include <cstdio>
#include <ctime>
#include <sstream>

#include "PublishCommands.h"
#include "PublishIo.h"
#include "ReleaseControl.h"
#include "ReleaseDescription.h"
#include "kelvora/CheckSchedule.h"
#include "kelvora/OfferDecision.h"
#include "kelvora/ReleaseInfo.h"
#include "kelvora/trust/Crypto.h"
#include "kelvora/trust/TrustFormat.h"

namespace publish {

namespace {

// Sets the rollout of the info file Operand in place (or into -o), raises
// its sequence and signs it again.
int SetRollout(const Options& O, const std::string& File, const std::string& Percent) {
  const std::optional<uint32_t> share = kelvora::ParseRolloutPercent(Percent);
  if (!share) throw Failure("the rollout is a percentage from 0 to 100 (up to six decimals): " + Percent, kExitUsage);
  const std::string* key = O.Get("--key");
  const std::string pem = key != nullptr ? ReadFile(*key) : std::string();
  const std::string text = ReadFile(File);
  if (kelvora::trust::SplitSignature(text) && key == nullptr)
    throw Failure(File + ": is signed; give --key to sign the changed file (nothing was written)");
  std::string changed = WithControlKeys(text, kelvora::FormatRolloutPercent(*share),
                                        NextSequence(text, static_cast<int64_t>(std::time(nullptr))));
  if (key != nullptr) changed = SignInfoText(changed, pem);
  const std::string* out = O.Get("-o");
  WriteFileAtomically(out != nullptr ? *out : File, changed, File);
  const kelvora::TReleaseInfo release = kelvora::ParseReleaseInfo(changed);
  std::printf("%s: rollout %s%%, sequence %llu\n", out != nullptr ? out->c_str() : File.c_str(),
              release.RolloutText.c_str(), static_cast<unsigned long long>(release.Sequence.value_or(0)));
  return 0;
}

int64_t WholeNumber(const Options& O, const char* Name, int64_t Default, int64_t Max) {
  const std::string* v = O.Get(Name);
  if (v == nullptr) return Default;
  if (v->empty() || v->size() > 12 || v->find_first_not_of("0123456789") != std::string::npos || std::stoll(*v) > Max)
    throw Failure(std::string(Name) + " takes a whole number up to " + std::to_string(Max), kExitUsage);
  return std::stoll(*v);
}

const char* VerdictText(kelvora::TOfferVerdict V) {
  switch (V) {
    case kelvora::TOfferVerdict::Offered: return "offered";
    case kelvora::TOfferVerdict::NotNewer: return "not offered: not newer";
    case kelvora::TOfferVerdict::Refused: return "refused";
    case kelvora::TOfferVerdict::Halted: return "not offered: halted";
    case kelvora::TOfferVerdict::OutsideRollout: return "not offered: outside the rollout";
    case kelvora::TOfferVerdict::FailedToday: return "not offered: failed today";
  }
  return "?";
}

}  // namespace

int Rollout(const Args& A) {
  const Options o = ParseOptions(A, {"--key", "-o"});
  if (o.Help) {
    std::puts(
        "usage: kelvora-publish rollout <info file> <percent> [--key <private key file>] [-o <output>]\n"
        "\n"
        "Offers the release to <percent> of the installations (0 to 100, up to six\n"
        "decimals): sets \"#rollout=\", raises \"#sequence=\" and signs the file again.\n"
        "An installation in the rollout at one percentage stays in it at every\n"
        "higher one. Writes in place unless -o names another file.");
    return 0;
  }
  if (o.Operands.size() != 2) throw Failure("give an info file and a percentage (try --help)", kExitUsage);
  return SetRollout(o, o.Operands[0], o.Operands[1]);
}

int Halt(const Args& A) {
  const Options o = ParseOptions(A, {"--key", "-o"});
  if (o.Help) {
    std::puts(
        "usage: kelvora-publish halt <info file> [--key <private key file>] [-o <output>]\n"
        "\n"
        "Stops the release: \"#rollout=0\" offers it to nobody, and what an\n"
        "installation downloaded for it but did not install yet is discarded at\n"
        "its next check. Raises \"#sequence=\" and signs the file again. See\n"
        "simulate for how long after the upload clients may still start downloads.");
    return 0;
  }
  if (o.Operands.size() != 1) throw Failure("give an info file (try --help)", kExitUsage);
  return SetRollout(o, o.Operands[0], "0");
}

int Simulate(const Args& A) {
  const Options o = ParseOptions(A, {"--installations", "--ids", "--running", "--check-interval", "--cache-max-age"});
  if (o.Help) {
    std::puts(
        "usage: kelvora-publish simulate <info file> [--installations <N> | --ids <file>]\n"
        "                                [--running <version or date>] [--check-interval <seconds>]\n"
        "                                [--cache-max-age <seconds>]\n"
        "\n"
        "Decides, as each installation's component does, whether it is offered the\n"
        "release, and prints \"offered: <n> of <N>\". The installations run\n"
        "--running (default: an older release); their identifiers are <N>\n"
        "made-up ones (default 1000), or those in --ids, one a line, each then\n"
        "printed with its decision.\n"
        "\n"
        "Also prints the halt bound: the longest time from uploading a halted file\n"
        "until no installation starts a new download of the release. It is the\n"
        "hosts' check interval (default 86400), plus the random delay the automatic\n"
        "check adds (a tenth of the interval at most), plus the time a cache may\n"
        "serve the info file without asking the server (--cache-max-age, default\n"
        "0: the component asks every cache to revalidate).");
    return 0;
  }
  if (o.Operands.size() != 1) throw Failure("give an info file (try --help)", kExitUsage);
  const std::string text = ReadFile(o.Operands[0]);
  const kelvora::TReleaseInfo release = kelvora::ParseReleaseInfo(text);
  if (!release.Problem.empty()) throw Failure(o.Operands[0] + ": " + release.Problem);

  std::vector<std::string> ids;
  const bool listed = o.Get("--ids") != nullptr;
  if (listed) {
    std::istringstream in(ReadFile(*o.Get("--ids")));
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) ids.push_back(line);
  } else {
    const int64_t n = WholeNumber(o, "--installations", 1000, 10'000'000);
    for (int64_t i = 0; i < n; ++i)
      ids.push_back(kelvora::trust::Sha256Hex("installation " + std::to_string(i)).substr(0, 32));
  }
  kelvora::TInstallation self;
  self.VersionControl = release.Version.empty() ? kelvora::byDate : kelvora::byNumber;
  const std::string* running = o.Get("--running");
  self.VersionNumber = running != nullptr ? *running : "0";
  self.VersionDate = running != nullptr ? *running : "01/01/1900";
  const kelvora::TOfferTime time = kelvora::CurrentOfferTime();

  size_t offered = 0;
  for (const std::string& id : ids) {
    self.Id = id;
    const kelvora::TOffer offer = kelvora::DecideOffer(release, self, {true}, time);
    if (offer.Verdict == kelvora::TOfferVerdict::Refused) throw Failure(o.Operands[0] + ": " + offer.Reason);
    offered += offer.Verdict == kelvora::TOfferVerdict::Offered;
    if (listed) std::printf("%s %s\n", id.c_str(), VerdictText(offer.Verdict));
  }
  std::printf("release: %s, sequence %s, rollout %s\n",
              release.Version.empty() ? ("date " + release.Date).c_str() : ("version " + release.Version).c_str(),
              release.Sequence ? std::to_string(*release.Sequence).c_str() : "none",
              release.Rollout ? (release.RolloutText + "%").c_str() : "everybody (no key)");
  std::printf("installations running %s\n", running != nullptr ? running->c_str() : "an older release");
  std::printf("offered: %zu of %zu\n", offered, ids.size());
  const int64_t interval = WholeNumber(o, "--check-interval", 86400, 100LL * 365 * 86400);
  const int64_t spread = interval / kelvora::kCheckSpreadDivisor;
  const int64_t cache = WholeNumber(o, "--cache-max-age", 0, 100LL * 365 * 86400);
  std::printf("halt bound: %lld s (check interval %lld s + spread %lld s + cache %lld s)\n",
              static_cast<long long>(interval + spread + cache), static_cast<long long>(interval),
              static_cast<long long>(spread), static_cast<long long>(cache));
  return 0;
}

}  // namespace publish
