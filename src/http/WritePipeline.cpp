#include "http/WritePipeline.h"

namespace kelvora::httpimpl {

TWritePipeline::TWritePipeline(TWrite Write, size_t BufferSize, size_t Buffers)
    : write_(std::move(Write)), bufferSize_(BufferSize), buffers_(Buffers) {
  for (auto& b : buffers_) {
    b.resize(bufferSize_);
    free_.push_back(b.data());
  }
  thread_ = std::thread([this] { Loop(); });
}

TWritePipeline::~TWritePipeline() {
  {
    std::lock_guard lk(m_);
    closing_ = true;
    queue_.clear();
  }
  toWriter_.notify_one();
  thread_.join();
}

void TWritePipeline::Loop() {
  std::unique_lock lk(m_);
  for (;;) {
    toWriter_.wait(lk, [this] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) return;  // closing, and nothing left
    const TPiece piece = queue_.front();
    queue_.pop_front();
    writing_ = true;
    lk.unlock();
    const TOutcome outcome = write_(piece.Position, piece.Data, piece.Size);
    lk.lock();
    writing_ = false;
    free_.push_back(piece.Data);
    if (!outcome.Ok()) {
      // The first failure stands; what was handed over after it is dropped,
      // so the output never holds bytes past a gap.
      outcome_ = outcome;
      for (const TPiece& p : queue_) free_.push_back(p.Data);
      queue_.clear();
    }
    toReceiver_.notify_one();
  }
}

uint8_t* TWritePipeline::Acquire() {
  std::unique_lock lk(m_);
  toReceiver_.wait(lk, [this] { return !outcome_.Ok() || !free_.empty(); });
  if (!outcome_.Ok()) return nullptr;
  uint8_t* b = free_.back();
  free_.pop_back();
  return b;
}

void TWritePipeline::Submit(uint8_t* Buffer, int64_t Position, size_t Size) {
  {
    std::lock_guard lk(m_);
    if (!outcome_.Ok()) {
      free_.push_back(Buffer);
      return;
    }
    queue_.push_back({Buffer, Position, Size});
  }
  toWriter_.notify_one();
}

TWritePipeline::TOutcome TWritePipeline::Drain() {
  std::unique_lock lk(m_);
  toReceiver_.wait(lk, [this] { return queue_.empty() && !writing_; });
  return outcome_;
}

TWritePipeline::TOutcome TWritePipeline::Outcome() {
  std::lock_guard lk(m_);
  return outcome_;
}

}  // namespace kelvora::httpimpl
