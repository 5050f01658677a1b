#!/usr/bin/env bash
# The main job: set up, build the installer, stamp a demo channel onto a copy
# and run it under Wine in a private prefix; then show where its log went.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/setup.sh
source tools/wine_env.sh

cmake --preset mingw -DWEX_BUILD_TESTS=OFF >/dev/null
cmake --build --preset mingw --target WexDownloader
python3 tools/check_pe.py build/wineprefix/drive_c/wex/bin/WexDownloader.exe i386
if [ "$WEX_RUN_ARCH" != i686 ]; then
  echo "note: this host cannot execute 32-bit processes; the demo runs the x86_64 build under wine64"
  cmake --preset "$WEX_RUN_PRESET" -DWEX_BUILD_TESTS=OFF >/dev/null
  cmake --build --preset "$WEX_RUN_PRESET" --target WexDownloader
fi
exe="$root/$WEX_RUN_BUILD/wineprefix/drive_c/wex/bin/WexDownloader.exe"

prefix="$root/$WEX_RUN_BUILD/demo-prefix"
loader=/usr/lib/wine/wine; [ "$WEX_RUN_ARCH" = i686 ] || loader=/usr/lib/wine/wine64
tools/wine_prefix.sh "$prefix" "$loader"
wex_start_wineserver "$prefix"
trap 'wex_stop_wineserver "$prefix"' EXIT

# The channel build a distribution engineer would ship.
target="$prefix/drive_c/Users/Public/Downloads"
mkdir -p "$target"
stamped="$target/WexDownloader.exe"
tool="$root/build-native/wexchannel"
if [ -x "$tool" ]; then
  [ -x "$tool" ] || true
  "$tool" stamp --in "$exe" --channel tools/demo/channel.json --out "$stamped.new"
  mv -f "$stamped.new" "$stamped"
else
  cp "$exe" "$stamped"
fi

before=$(date +%s)
WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d" \
  "$loader" 'C:\Users\Public\Downloads\WexDownloader.exe' </dev/null
log=$(ls -t "$prefix"/drive_c/users/*/Temp/GameDownloadLog/WexDownloader_*.log 2>/dev/null | head -1 || true)
if [ -z "$log" ]; then
  echo "demo: the installer wrote no log" >&2
  exit 1
fi
echo "demo: the installer's log is $log"
cat "$log"
