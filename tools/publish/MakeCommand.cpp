// make: a release description becomes an info file.
#include <cstdio>

#include "PublishCommands.h"
#include "PublishIo.h"
#include "ReleaseDescription.h"

namespace publish {

int Make(const Args& A) {
  const Options o = ParseOptions(A, {"--key", "-o"});
  if (o.Help) {
    std::puts(
        "usage: kelvora-publish make <release.json> -o <info file> [--key <private key file>]\n"
        "\n"
        "Reads the release description, a JSON object:\n"
        "  {\"version\": \"1.5.0\"          (or \"date\": \"12/24/2026\"; one of them is needed)\n"
        "   \"message\": \"Faster start-up.\\nFixed printing.\",\n"
        "   \"method\": 0,                  (0 replace files, 1 run a setup, 2 open a web page)\n"
        "   \"expires\": \"2027-06-30\",      (optional; or 2027-06-30T12:00:00Z)\n"
        "   \"files\": [{\"path\": \"build/myapp\", \"url\": \"https://example.org/myapp\",\n"
        "              \"target\": \"%current%myapp\"}]}\n"
        "Paths are relative to the description's folder; a redirect's entries have\n"
        "no path. Writes the info file with each file's size and SHA-256, and signs\n"
        "it when --key is given.");
    return 0;
  }
  const std::string* out = o.Get("-o");
  if (o.Operands.size() != 1 || out == nullptr)
    throw Failure("give a release description and -o <info file> (try --help)", kExitUsage);
  std::string text = InfoFileFromDescription(o.Operands[0], ReadFile(o.Operands[0]));
  if (const std::string* key = o.Get("--key")) text = SignInfoText(text, ReadFile(*key));
  WriteFileAtomically(*out, text);
  return 0;
}

}  // namespace publish
