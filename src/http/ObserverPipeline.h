// The body observer of a large download, on a thread of its own. The
// receiving thread fills buffers, writes each full one to the file itself
// and hands it over; the pipeline's thread passes the pieces to the
// observer (the hash of the file) in the order handed over, so that the
// hash never sits on the receiving thread's path. A fixed number of buffers
// circulates between the two: the receiver waits when all are in flight, so
// memory stays bounded whatever the network's and the hash's speeds.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kelvora::httpimpl {

class TObserverPipeline {
 public:
  using TObserver = std::function<void(int64_t Position, const uint8_t* Data, size_t Size)>;

  TObserverPipeline(TObserver Observer, size_t BufferSize, size_t Buffers);
  // Passes what was handed over on to the observer, then ends the thread:
  // the observer has seen its last piece when this returns.
  ~TObserverPipeline();
  TObserverPipeline(const TObserverPipeline&) = delete;
  TObserverPipeline& operator=(const TObserverPipeline&) = delete;

  // A buffer of BufferSize bytes to fill; waits while all are in flight.
  uint8_t* Acquire();
  // Hands over the buffer Acquire gave, holding Size bytes that were
  // written at Position of the output.
  void Submit(uint8_t* Buffer, int64_t Position, size_t Size);

 private:
  struct TPiece {
    uint8_t* Data;
    int64_t Position;
    size_t Size;
  };
  void Loop();

  TObserver observer_;
  std::vector<std::vector<uint8_t>> buffers_;
  std::mutex m_;
  std::condition_variable toObserver_, toReceiver_;
  std::vector<uint8_t*> free_;
  std::deque<TPiece> queue_;
  bool closing_ = false;
  std::thread thread_;
};

}  // namespace kelvora::httpimpl
