#include "kelvora/kvThread.h"

namespace kelvora {

namespace {
// Nice values for the seven OS values, same order as kThreadPriorityValues.
constexpr int kNice[7] = {19, 10, 5, 0, -5, -10, -20};
}  // namespace

int PriorityToOSValue(TThreadPriority Priority) {
  int i = static_cast<int>(Priority);
  return i >= 0 && i < 7 ? kThreadPriorityValues[i] : 0;
}

TThreadPriority OSValueToPriority(int Value) {
  for (int i = 0; i < 7; ++i)
    if (kThreadPriorityValues[i] == Value) return static_cast<TThreadPriority>(i);
  return tpNormal;
}

int OSValueToNice(int Value) {
  for (int i = 0; i < 7; ++i)
    if (kThreadPriorityValues[i] == Value) return kNice[i];
  return 0;
}

// A nice value outside the table has no OS value of its own; report it as a
// value outside the table too, so it reads back as tpNormal.
int NiceToOSValue(int Nice) {
  for (int i = 0; i < 7; ++i)
    if (kNice[i] == Nice) return kThreadPriorityValues[i];
  return 1000 + Nice;
}

}  // namespace kelvora
