// The writing half of a large download to a file. The receiving thread fills
// buffers and hands each full one over; a thread of the pipeline's own writes
// them in order (and passes them to whoever hashes them), so that neither the
// write calls nor the hash sit on the receiving thread's path. A fixed number
// of buffers circulates between the two: the receiver waits when all are in
// flight, so memory stays bounded whatever the network's speed.
//
// The first failure of a write ends the pipeline: nothing after it is
// written, and the receiver learns it at its next hand-over or drain.
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

class TWritePipeline {
 public:
  // What a write of one buffer came to.
  struct TOutcome {
    enum Kind { Written, Failed, Stopped, Released } What = Written;
    int Error = 0;  // errno, with Failed
    bool Ok() const { return What == Written; }
  };
  // Runs on the pipeline's thread, once per buffer, in the order handed over.
  using TWrite = std::function<TOutcome(int64_t Position, const uint8_t* Data, size_t Size)>;

  TWritePipeline(TWrite Write, size_t BufferSize, size_t Buffers);
  // Drops what was not written yet and waits for the thread to end.
  ~TWritePipeline();
  TWritePipeline(const TWritePipeline&) = delete;
  TWritePipeline& operator=(const TWritePipeline&) = delete;

  // A buffer of BufferSize bytes to fill; waits while every buffer is in
  // flight. Null once a write failed (Outcome() tells how).
  uint8_t* Acquire();
  // Hands over the buffer Acquire gave, holding Size bytes that belong at
  // Position of the output.
  void Submit(uint8_t* Buffer, int64_t Position, size_t Size);
  // Waits until everything handed over is written: the first failure, or
  // Written.
  TOutcome Drain();
  TOutcome Outcome();

 private:
  struct TPiece {
    uint8_t* Data;
    int64_t Position;
    size_t Size;
  };
  void Loop();

  TWrite write_;
  size_t bufferSize_;
  std::vector<std::vector<uint8_t>> buffers_;
  std::mutex m_;
  std::condition_variable toWriter_, toReceiver_;
  std::vector<uint8_t*> free_;
  std::deque<TPiece> queue_;
  bool writing_ = false, closing_ = false;
  TOutcome outcome_;
  std::thread thread_;
};

}  // namespace kelvora::httpimpl
