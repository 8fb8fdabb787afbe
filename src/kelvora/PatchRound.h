// What the engine keeps of the patches an info file offers, and of the one
// being used for the current file.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kelvora/delta/PatchOffer.h"

namespace kelvora::detail {

class TPartFile;

struct TPatchRound {
  // The offers of each listed address (only those listed with a "#hash").
  std::map<std::string, std::vector<delta::TPatchOffer>> Offers;
  // The current transfer fetches Offer into File ("<target>.uDIFF").
  bool Active = false;
  delta::TPatchOffer Offer;
  std::string File;
  std::shared_ptr<TPartFile> Output;  // File, held open
  // The entry whose patch was not used: it is downloaded whole, and never
  // patched again in this run.
  int FellBack = -1;
  // A fall-back waits to start the entry's whole download.
  bool Retry = false;
};

}  // namespace kelvora::detail
