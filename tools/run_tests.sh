#!/usr/bin/env bash
# The whole test suite: set-up, build, then every test under Wine (windows
# under Xvfb). Exits non-zero when anything fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/setup.sh
source tools/wine_env.sh

# Distribution tools also run natively on the Linux machines that package builds.
if [ -f tools/wexchannel/CMakeLists.txt ]; then
  cmake -S tools/wexchannel -B build-native -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build-native
fi

# The product is always built 32-bit and checked to be a standalone PE32 image.
if [ "$WEX_RUN_ARCH" = i686 ]; then
  cmake --preset mingw-local -DWEX_BUILD_TESTS=ON -DWEX_WITH_CHANNEL_TOOL=ON >/dev/null
  cmake --build --preset mingw-local
else
  cmake --preset mingw-local -DWEX_BUILD_TESTS=OFF >/dev/null
  cmake --build --preset mingw-local --target WexDownloader
fi
python3 tools/check_pe.py build-local/wineprefix/drive_c/wex/bin/WexDownloader.exe i386

if [ "$WEX_RUN_ARCH" != i686 ]; then
  echo "note: this host cannot execute 32-bit processes; tests run the x86_64 build under wine64"
  cmake --preset "$WEX_RUN_PRESET" -DWEX_BUILD_TESTS=ON -DWEX_WITH_CHANNEL_TOOL=ON >/dev/null
  cmake --build --preset "$WEX_RUN_PRESET"
fi

prefix="$root/$WEX_RUN_BUILD/wineprefix"
loader=$WEX_RUN_LOADER
tools/wine_prefix.sh "$prefix" "$loader"
wex_start_wineserver "$prefix"
trap 'wex_stop_wineserver "$prefix"' EXIT

xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir "$WEX_RUN_BUILD" --output-on-failure --timeout 600 "$@"
