// make: a release description becomes an info file.
#include <cstdio>
#include <ctime>
#include <fstream>

#include "MakePatches.h"
#include "PublishCommands.h"
#include "PublishIo.h"
#include "ReleaseControl.h"
#include "ReleaseDescription.h"
#include "kelvora/trust/Crypto.h"

namespace publish {

int Make(const Args& A) {
  const Options o = ParseOptions(A, {"--key", "-o", "--previous", "--patches", "--patch-level", "--patch-format"});
  if (o.Help) {
    std::puts(
        "usage: kelvora-publish make <release.json> -o <info file> [--key <private key file>]\n"
        "                            [--previous <folder>]... [--patches <folder>] [--patch-level <1..19>]\n"
        "                            [--patch-format smallest|zstd|matched]\n"
        "\n"
        "Reads the release description, a JSON object:\n"
        "  {\"version\": \"1.5.0\"          (or \"date\": \"12/24/2026\"; one of them is needed)\n"
        "   \"message\": \"Faster start-up.\\nFixed printing.\",\n"
        "   \"method\": 0,                  (0 replace files, 1 run a setup, 2 open a web page)\n"
        "   \"expires\": \"2027-06-30\",      (optional; or 2027-06-30T12:00:00Z)\n"
        "   \"rollout\": 10,                 (optional: the share of installations offered, in %)\n"
        "   \"critical\": true,              (optional: the person may not postpone the release)\n"
        "   \"minimum\": \"1.2\",              (optional: older installations treat it as critical)\n"
        "   \"patch_url\": \"https://example.org/patches/\",  (optional; default: beside each file)\n"
        "   \"files\": [{\"path\": \"build/myapp\", \"url\": \"https://example.org/myapp\",\n"
        "              \"target\": \"%current%myapp\",\n"
        "              \"previous\": [\"releases/1.4.0/myapp\"]}]}  (optional: older releases of it)\n"
        "Paths are relative to the description's folder; a redirect's entries have\n"
        "no path. Writes the info file with each file's size and SHA-256, and signs\n"
        "it when --key is given. The file's \"#sequence=\" is raised above the one of\n"
        "the file it replaces (and is at least the current time in seconds).\n"
        "\n"
        "Patches: each --previous folder holds an older release, its files under\n"
        "the names the listed paths end with (build/myapp: <folder>/myapp). For\n"
        "every older file that differs from the new one, make writes a binary patch\n"
        "into the --patches folder, named <served name>.<old hash>-<new hash>.patch\n"
        "(hashes shortened to 12 digits), and lists it as \"#patch<n>.<k>=\" with the\n"
        "old file's SHA-256, the patch's SHA-256, size and address (patch_url or the\n"
        "file's own folder, plus the name). A patch not smaller than 3/4 of the file\n"
        "is left out. --patch-level trades time for size (default 19, the smallest;\n"
        "3 is many times quicker). --patch-format: a Zstandard frame with the old\n"
        "file as reference (zstd, read by every release of the component), a\n"
        "matched patch (matched: smaller where code moved; a component from\n"
        "before the format fetches it, cannot apply it and downloads the whole\n"
        "file), or the smaller of the two for each file (smallest, the default).\n"
        "Upload the patches with the files; verify --files checks them.");
    return 0;
  }
  const std::string* out = o.Get("-o");
  if (o.Operands.size() != 1 || out == nullptr)
    throw Failure("give a release description and -o <info file> (try --help)", kExitUsage);
  // Every input is read before any output is written.
  const std::string* key = o.Get("--key");
  const std::string pem = key != nullptr ? ReadFile(*key) : std::string();
  if (key != nullptr) try {
      kelvora::trust::PublicKeyOf(pem);  // a wrong key fails before the patches are written
    } catch (const std::exception& e) {
      throw Failure(*key + ": " + e.what());
    }
  TRelease release = ReadRelease(o.Operands[0], ReadFile(o.Operands[0]));
  TPatchPlan plan{o.GetAll("--previous"), o.Get("--patches") != nullptr ? *o.Get("--patches") : std::string()};
  if (const std::string* level = o.Get("--patch-level")) {
    const bool number =
        !level->empty() && level->size() <= 2 && level->find_first_not_of("0123456789") == std::string::npos;
    plan.Level = number ? std::stoi(*level) : 0;
    if (plan.Level < 1 || plan.Level > 19) throw Failure("--patch-level takes 1 to 19", kExitUsage);
  }
  if (const std::string* format = o.Get("--patch-format")) {
    if (*format == "smallest")
      plan.Format = TPatchFormat::Smallest;
    else if (*format == "zstd")
      plan.Format = TPatchFormat::Zstd;
    else if (*format == "matched")
      plan.Format = TPatchFormat::Matched;
    else
      throw Failure("--patch-format takes smallest, zstd or matched", kExitUsage);
  }
  MakePatches(release, plan);
  // Every file made counts as newer than the one it replaces.
  // (Read aside, not as an input: what may be written over is decided as before.)
  std::optional<std::string> previous;
  if (std::ifstream old(*out, std::ios::binary); old) {
    std::string text(1 << 20, '\0');
    old.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(old.gcount()));
    previous = std::move(text);
  }
  release.Sequence = NextSequence(previous, static_cast<int64_t>(std::time(nullptr)));
  std::string text = FormatInfoFile(release);
  if (key != nullptr) text = SignInfoText(text, pem);
  WriteFileAtomically(*out, text);
  return 0;
}

}  // namespace publish
