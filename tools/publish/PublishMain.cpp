// kelvora-publish: makes, signs and checks info files for the update
// component, and makes the signing key.
#include <cstdio>
#include <cstring>

#include "PublishCommands.h"
#include "PublishIo.h"

namespace {

const char kUsage[] =
    "usage: kelvora-publish <verb> [options]\n"
    "\n"
    "  keygen   make a signing key and print its public key\n"
    "  make     write an info file from a release description, signed with --key\n"
    "  sign     sign an existing info file\n"
    "  verify   check an info file's signature and expiry, and optionally its files\n"
    "  rollout  offer the release to a share of the installations\n"
    "  halt     stop offering the release\n"
    "  simulate show who is offered the release, and how fast a halt takes hold\n"
    "\n"
    "kelvora-publish <verb> --help shows the verb's options; --version the version.\n"
    "Exit codes: 0 done, 1 refused or failed, 2 wrong command line.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace publish;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? kExitUsage : 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("kelvora-publish %s\n", KELVORA_PUBLISH_VERSION);
    return 0;
  }
  const std::string verb = argv[1];
  const Args args(argv + 2, argv + argc);
  try {
    if (verb == "keygen") return Keygen(args);
    if (verb == "make") return Make(args);
    if (verb == "sign") return Sign(args);
    if (verb == "verify") return Verify(args);
    if (verb == "rollout") return Rollout(args);
    if (verb == "halt") return Halt(args);
    if (verb == "simulate") return Simulate(args);
    throw Failure("unknown verb \"" + verb + "\" (try --help)", kExitUsage);
  } catch (const Failure& f) {
    std::fprintf(stderr, "kelvora-publish %s: %s\n", verb.c_str(), f.what());
    return f.Code;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kelvora-publish %s: %s\n", verb.c_str(), e.what());
    return kExitFailed;
  }
}
