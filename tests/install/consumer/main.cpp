// Builds against the installed headers and library only.
#include <kelvora/Application.h>
#include <kelvora/kvThread.h>

#include <cstdio>

int main() {
  kelvora::TkvCustomThread thread(nullptr);
  int handed = 0;
  thread.SetWaitThread(true);
  thread.SetOnExecute([&](kelvora::TObject*) { thread.Synchronize([&] { ++handed; }); });
  thread.Execute();
  std::printf("handed %d\n", handed);
  return handed == 1 ? 0 : 1;
}
