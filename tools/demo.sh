#!/usr/bin/env bash
# The main job: set up, build the installer, stamp a silent demo channel onto
# it, and let it install for real under Wine against the test kit's loopback
# servers: catalogue, two component packages, the report endpoint. Then show
# what it did: its log, the telemetry received, the registry, the started app
# store's command line and the desktop shortcut.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/setup.sh
source tools/wine_env.sh

echo "== build"
cmake -S tools/wexchannel -B build-native -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-native --target wexchannel
cmake --preset mingw-local -DWEX_BUILD_TESTS=OFF >/dev/null
cmake --build --preset mingw-local --target WexDownloader
python3 tools/check_pe.py build-local/wineprefix/drive_c/wex/bin/WexDownloader.exe i386
if [ "$WEX_RUN_ARCH" != i686 ]; then
  echo "note: this host cannot execute 32-bit processes; the demo runs the x86_64 build under wine64"
  cmake --preset "$WEX_RUN_PRESET" -DWEX_BUILD_TESTS=OFF >/dev/null
fi
cmake --build --preset "$WEX_RUN_PRESET" --target WexDownloader wex_testkit_package \
  wex_testkit_kallup wex_testkit_vendrix
bin="$root/$WEX_RUN_BUILD/wineprefix/drive_c/wex/bin"

echo "== demo prefix and servers"
prefix="$root/$WEX_RUN_BUILD/demo-prefix"
loader=$WEX_RUN_LOADER
rm -rf "$prefix"   # every demo starts on a machine without the platform
tools/wine_prefix.sh "$prefix" "$loader"
state="$root/$WEX_RUN_BUILD/demo-server"
rm -rf "$state"
mkdir -p "$state/files/pkg" "$prefix/drive_c/wex/demo"
cleanup() {
  python3 tools/testkit/fixture_server.py stop --state-dir "$state" >/dev/null 2>&1 || true
  wex_stop_wineserver "$prefix"
}
trap cleanup EXIT
# The ports the local build's server addresses name (CMakePresets.json).
python3 tools/testkit/fixture_server.py start --state-dir "$state" \
  --ports https=47443,fallbackHttps=47444,http=47480 >/dev/null
wex_start_wineserver "$prefix"

# The app store the packages install is the test kit's recorder.
cp "$bin/testkit/Vendrix.exe" "$prefix/drive_c/wex/demo/Vendrix.exe"
python3 tools/testkit/make_package.py --program "$bin/testkit/wex_package.exe" \
  --kallup "$bin/testkit/Kallup.exe" --out "$state/files/pkg/Vendrix_setup.exe" \
  --behaviour '{"component": 7, "kallup": {"version": "5.2.0.1",
                "markerSources": {"Vendrix.exe": "C:\\wex\\demo\\Vendrix.exe"}}}'
python3 tools/testkit/make_package.py --program "$bin/testkit/wex_package.exe" \
  --kallup "$bin/testkit/Kallup.exe" --out "$state/files/pkg/Emulator_setup.exe" \
  --behaviour '{"component": 1, "exitCode": 1000, "kallup": {"version": "3.1.20.5"}}'
cat > "$state/catalogue.json" <<JSON
{
  "packageDir": "files/pkg",
  "baseUrl": "http://127.0.0.1:47480/pkg/",
  "items": [
    {"id": 7, "name": "Vendrix_setup.exe", "localaddpath": "Vendrix",
     "writePathToRegKey": "Software\\\\Vorlenk\\\\Pardomix\\\\Vendrix", "version": "5.2.0.1"},
    {"id": 1, "name": "Emulator_setup.exe", "localaddpath": "UI",
     "writePathToRegKey": "Software\\\\Vorlenk\\\\Pardomix\\\\UI", "version": "3.1.20.5"}
  ]
}
JSON
python3 tools/testkit/catalogue_writer.py "$state/catalogue.json" --site "$state/files"

echo "== stamp the demo channel"
build-native/wexchannel stamp "$bin/WexDownloader.exe" -o "$prefix/drive_c/wex/demo/WexDownloader.exe" \
  --json tools/demo/channel.json --force

echo "== run the installer (silent channel)"
WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d" \
  "$loader" 'C:\wex\demo\WexDownloader.exe' </dev/null
# The app store is started without waiting: give it a moment to record.
for _ in $(seq 1 50); do
  ls "$prefix"/drive_c/Program\ Files/Ludovane/Vendrix/vendrix_cmdline.txt >/dev/null 2>&1 && break
  sleep 0.2
done

# Wine writes its registry to disk when the server ends.
wex_stop_wineserver "$prefix"

echo "== results"
log=$(ls -t "$prefix"/drive_c/users/*/Temp/GameDownloadLog/WexDownloader_*.log | head -1)
echo "log: $log"
cat "$log"
echo
echo "telemetry events received:"
python3 - "$state/reports.jsonl" <<'PY'
import json, sys, urllib.parse
for line in open(sys.argv[1]):
    record = json.loads(line)
    data = json.loads(urllib.parse.unquote(record["query"].split("&data=", 1)[1]))
    print("  event", data.get("ireserve1"), "details", data.get("ireserve5"), data.get("ireserve6"),
          data.get("ireserve7"))
PY
echo "registry (machine-wide, as the 32-bit installer sees it):"
python3 - "$prefix/system.reg" <<'PY'
import sys
key = None
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    if line.startswith("["):
        key = line[1:line.index("]")].replace("\\\\", "\\")
    elif key and "Vorlenk" in key and line.startswith('"'):
        print("  " + key + ": " + line.strip())
PY
echo "app store command line: [$(cat "$prefix"/drive_c/Program\ Files/Ludovane/Vendrix/vendrix_cmdline.txt 2>/dev/null)]"
echo "desktop: $(ls "$prefix"/drive_c/users/*/Desktop/ 2>/dev/null | tr '\n' ' ')"
grep -q "WexDownload End." "$log"
