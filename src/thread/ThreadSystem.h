// The system's side of a worker thread: its id and its scheduling priority,
// given as the OS values of the priority table (kThreadPriorityValues).
#pragma once

#include <cstdint>

namespace kelvora::detail {

// Id of the calling thread, never 0.
std::int64_t CurrentThreadId();
// Applies OsValue to the thread Tid; false when the system refused.
bool ApplyThreadPriority(std::int64_t Tid, int OsValue);
// Reads the priority of thread Tid as an OS value (a value outside the table
// when the system's setting has none); false when it cannot be read.
bool ReadThreadPriority(std::int64_t Tid, int& OsValue);

}  // namespace kelvora::detail
