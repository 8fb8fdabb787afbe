#include "http/ObserverPipeline.h"

namespace kelvora::httpimpl {

TObserverPipeline::TObserverPipeline(TObserver Observer, size_t BufferSize, size_t Buffers)
    : observer_(std::move(Observer)), buffers_(Buffers) {
  for (auto& b : buffers_) {
    b.resize(BufferSize);
    free_.push_back(b.data());
  }
  thread_ = std::thread([this] { Loop(); });
}

TObserverPipeline::~TObserverPipeline() {
  {
    std::lock_guard lk(m_);
    closing_ = true;
  }
  toObserver_.notify_one();
  thread_.join();
}

void TObserverPipeline::Loop() {
  std::unique_lock lk(m_);
  for (;;) {
    toObserver_.wait(lk, [this] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) return;  // closing, and everything passed on
    const TPiece piece = queue_.front();
    queue_.pop_front();
    lk.unlock();
    observer_(piece.Position, piece.Data, piece.Size);
    lk.lock();
    free_.push_back(piece.Data);
    toReceiver_.notify_one();
  }
}

uint8_t* TObserverPipeline::Acquire() {
  std::unique_lock lk(m_);
  toReceiver_.wait(lk, [this] { return !free_.empty(); });
  uint8_t* b = free_.back();
  free_.pop_back();
  return b;
}

void TObserverPipeline::Submit(uint8_t* Buffer, int64_t Position, size_t Size) {
  {
    std::lock_guard lk(m_);
    queue_.push_back({Buffer, Position, Size});
  }
  toObserver_.notify_one();
}

}  // namespace kelvora::httpimpl
