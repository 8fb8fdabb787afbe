// The embedded resources, written to a stream.
#include "kelvora/Streams.h"
#include "kelvora/kvUtils.h"
#include "platform/Resources.h"

namespace kelvora {

bool SaveResourceToStream(THandle Instance, const std::string& Name, const std::string& Type, TStream* Stream) {
  (void)Instance;  // one registry for the whole program
  if (Stream == nullptr) return false;
  platform::TResourceBlock block;
  if (!platform::FindResource(Name, Type, block) || block.Data == nullptr || block.Size == 0) return false;
  try {
    Stream->WriteBuffer(block.Data, static_cast<int64_t>(block.Size));
  } catch (...) {
    return false;
  }
  return true;
}

}  // namespace kelvora
