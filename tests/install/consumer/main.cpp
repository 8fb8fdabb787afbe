// Builds against the installed headers and library only.
#include <kelvora/Application.h>
#include <kelvora/kvThread.h>
#include <kelvora/kvUtils.h>

#include <cstdio>

int main() {
  kelvora::TkvCustomThread thread(nullptr);
  int handed = 0;
  thread.SetWaitThread(true);
  thread.SetOnExecute([&](kelvora::TObject*) { thread.Synchronize([&] { ++handed; }); });
  thread.Execute();
  const int order = kelvora::CompareVersions("1.10.0", "1.9.2");
  std::printf("handed %d, 1.10.0 vs 1.9.2: %d\n", handed, order);
  return handed == 1 && order > 0 ? 0 : 1;
}
