// Qt's libraries are not built with ThreadSanitizer. Their thread pools
// (image conversion and scaling) allocate on one thread and free on another,
// synchronised by Qt's own futex-based locks, which the tool cannot see. The
// allocations and frees made inside those libraries are left untracked; our
// code's accesses are still checked.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n";
}
#endif
