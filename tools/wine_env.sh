# Sourced by the project's scripts: picks the Windows build that this host can
# run under Wine. The product is 32-bit; a host that cannot execute 32-bit
# processes at all (no IA-32 emulation in its kernel) cannot run 32-bit Wine,
# so there the same sources are also built for x86_64 and run with wine64.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  WEX_RUN_PRESET=mingw-local
  WEX_RUN_BUILD=build-local
  WEX_RUN_ARCH=i686
  WEX_RUN_LOADER=/usr/lib/wine/wine
else
  WEX_RUN_PRESET=mingw64-local
  WEX_RUN_BUILD=build-x64
  WEX_RUN_ARCH=x86_64
  WEX_RUN_LOADER=/usr/lib/wine/wine64
fi

# Starts the prefix's wineserver detached from our pipes (ctest waits for its
# output pipe to close, and a server started by a test would keep it open).
wex_start_wineserver() {  # $1 prefix
  WINEPREFIX="$1" setsid /usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1 &
  sleep 0.5
  # The first program of a session starts Wine's services, which inherit its
  # standard handles: start them here, on /dev/null, so that no test's output
  # pipe is held open by them.
  WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d" \
    setsid "$WEX_RUN_LOADER" cmd /c exit </dev/null >/dev/null 2>&1 || true
}
wex_stop_wineserver() {  # $1 prefix
  WINEPREFIX="$1" /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true
  WINEPREFIX="$1" /usr/lib/wine/wineserver64 -w >/dev/null 2>&1 || true
}
