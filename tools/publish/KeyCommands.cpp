// keygen and sign.
#include <sys/stat.h>

#include <cstdio>

#include "PublishCommands.h"
#include "PublishIo.h"
#include "ReleaseDescription.h"
#include "kelvora/trust/Crypto.h"

namespace publish {

const std::string* Options::Get(const std::string& Name) const {
  for (const auto& [n, v] : Named)
    if (n == Name) return &v;
  return nullptr;
}

std::vector<std::string> Options::GetAll(const std::string& Name) const {
  std::vector<std::string> all;
  for (const auto& [n, v] : Named)
    if (n == Name) all.push_back(v);
  return all;
}

Options ParseOptions(const Args& A, std::initializer_list<const char*> Names) {
  Options o;
  for (size_t i = 0; i < A.size(); ++i) {
    const std::string& a = A[i];
    if (a == "--help" || a == "-h") {
      o.Help = true;
      continue;
    }
    if (a.size() > 1 && a[0] == '-') {
      bool known = false;
      for (const char* n : Names) known = known || a == n;
      if (!known) throw Failure("unknown option " + a + " (try --help)", kExitUsage);
      if (i + 1 >= A.size()) throw Failure(a + " needs a value", kExitUsage);
      o.Named.emplace_back(a, A[++i]);
      continue;
    }
    o.Operands.push_back(a);
  }
  return o;
}

int Keygen(const Args& A) {
  const Options o = ParseOptions(A, {});
  if (o.Help) {
    std::puts(
        "usage: kelvora-publish keygen <private key file>\n"
        "\n"
        "Makes an ECDSA P-256 key, writes its private part (PEM, mode 0600; an\n"
        "existing file is never replaced) and prints the public key in the form\n"
        "the component's PublicKey property takes. Keep the private key off the\n"
        "web server and out of the program.");
    return 0;
  }
  if (o.Operands.size() != 1) throw Failure("give one private key file (try --help)", kExitUsage);
  const kelvora::trust::TKeyPair pair = kelvora::trust::GenerateKeyPair();
  WriteNewPrivateFile(o.Operands[0], pair.PrivateKeyPem);
  std::printf("%s\n", kelvora::trust::Base64Encode(pair.PublicKeyDer).c_str());
  return 0;
}

int Sign(const Args& A) {
  const Options o = ParseOptions(A, {"--key", "-o"});
  if (o.Help) {
    std::puts(
        "usage: kelvora-publish sign <info file> --key <private key file> [-o <output>]\n"
        "\n"
        "Appends the line \"#signature=\" with the signature of every byte before\n"
        "it (an existing signature line is replaced). Writes the info file in\n"
        "place unless -o names another file. Prints the public key that checks it.");
    return 0;
  }
  const std::string* key = o.Get("--key");
  if (o.Operands.size() != 1 || key == nullptr) throw Failure("give an info file and --key (try --help)", kExitUsage);
  struct stat keyFile {}, infoFile {};
  if (::stat(key->c_str(), &keyFile) == 0 && ::stat(o.Operands[0].c_str(), &infoFile) == 0 &&
      keyFile.st_dev == infoFile.st_dev && keyFile.st_ino == infoFile.st_ino)
    throw Failure(o.Operands[0] + ": is the private key; nothing was written");
  const std::string pem = ReadFile(*key);
  const std::string text = SignInfoText(ReadFile(o.Operands[0]), pem);
  const std::string* out = o.Get("-o");
  WriteFileAtomically(out != nullptr ? *out : o.Operands[0], text, o.Operands[0]);
  std::printf("%s\n", kelvora::trust::Base64Encode(kelvora::trust::PublicKeyOf(pem)).c_str());
  return 0;
}

}  // namespace publish
