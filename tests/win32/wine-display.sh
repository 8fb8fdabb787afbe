# Sourced by the scripts that show Windows windows under Wine: a prefix of
# their own, a virtual display (Xvfb) on a free display number, Wine drawing
# its windows' frames itself (there is no window manager), and the DPI.
wineserver=${KV_WINESERVER:-/usr/lib/wine/wineserver}
# KV_WINEDEBUG: Wine's debug channels for a run by hand (none by default).
export WINEDEBUG=${KV_WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
kv_xvfb_pid=""

kv_wine_prefix() {
  export WINEPREFIX=$1
  rm -rf "$WINEPREFIX"
}

kv_cleanup_display() {
  "$wineserver" -k 2>/dev/null || true
  if [ -n "$kv_xvfb_pid" ]; then kill "$kv_xvfb_pid" 2>/dev/null || true; wait "$kv_xvfb_pid" 2>/dev/null || true; fi
}

kv_start_display() {
  local n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    kv_xvfb_pid=$!
    for _ in $(seq 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
    if kill -0 "$kv_xvfb_pid" 2>/dev/null; then
      export DISPLAY=":$n"
      trap kv_cleanup_display EXIT
      # No window manager: Wine draws captions and frames, and leaves its
      # windows unmanaged (a managed one waits 2 s for a window manager to
      # withdraw it at each close).
      "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
      "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
      return 0
    fi
  done
  echo "no virtual display could be started" >&2
  return 1
}

# The prefix's DPI, for the programs started after it.
kv_wine_dpi() {
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  "$wineserver" -w
}
