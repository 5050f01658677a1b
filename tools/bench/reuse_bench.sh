#!/usr/bin/env bash
# Overhead of a run whose six packages are already present and verified: the
# fetch phase (catalogue over HTTPS, selection, reuse test of every package)
# against hashing the same files alone, measured side by side in one run.
# A figure to read, never a timed test. PACKAGE_MIB sets the package size.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
bash tools/setup.sh
source tools/wine_env.sh
size_mib=${PACKAGE_MIB:-64}

cmake --preset "$WEX_RUN_PRESET" >/dev/null
cmake --build --preset "$WEX_RUN_PRESET" --target reuse_bench
prefix="$root/$WEX_RUN_BUILD/wineprefix"
loader=$WEX_RUN_LOADER
tools/wine_prefix.sh "$prefix" "$loader"

work="$prefix/drive_c/wex/bench/reuse"
state="$work/server"
rm -rf "$work"
mkdir -p "$state/files/pkg"
started_server=0
cleanup() {
  [ $started_server = 1 ] && python3 tools/testkit/fixture_server.py stop --state-dir "$state" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

python3 - "$work" "$size_mib" <<'PY'
import json, os, sys
work, size = sys.argv[1], int(sys.argv[2]) << 20
items = []
for component, folder in ((7, "Vendrix"), (1, "UI"), (3, "VDI_0"), (8, "VDI_100"), (10, "Rootfs"), (2, "Quib")):
    name = "package%d.exe" % component
    data = os.urandom(size)
    for place in ("server/files/pkg", "download/" + folder):
        os.makedirs(os.path.join(work, place), exist_ok=True)
        with open(os.path.join(work, place, name), "wb") as f:
            f.write(data)
    items.append({"id": component, "name": name, "localaddpath": folder})
with open(os.path.join(work, "catalogue.json"), "w") as f:
    json.dump({"packageDir": "server/files/pkg", "baseUrl": "http://127.0.0.1:1/pkg/", "items": items}, f)
PY
python3 tools/testkit/catalogue_writer.py "$work/catalogue.json" --site "$state/files"
python3 tools/testkit/fixture_server.py start --state-dir "$state" >/dev/null
started_server=1
ports=$(cat "$state/ports.json")
https=$(python3 -c 'import json,sys; print(json.loads(sys.argv[1])["https"])' "$ports")
fallback=$(python3 -c 'import json,sys; print(json.loads(sys.argv[1])["fallbackHttps"])' "$ports")

echo "reuse: six packages of $size_mib MiB already in their download folders"
for attempt in 1 2 3; do
  "$root/$WEX_RUN_BUILD/wine-run" 'C:\wex\bin\reuse_bench.exe' \
    "https://127.0.0.1:$https/downloads/xml/compoment.xml" \
    "https://127.0.0.1:$fallback/open/qrmt/xml/compoment.xml" 'C:\wex\bench\reuse\download\' \
    | tr -d '\r' | sed "s/^/reuse (run $attempt): /"
done
