#!/usr/bin/env bash
# DownloadFile against curl on one 512 MiB package from the test kit's fixture
# server, as figures to read (never a timed test): the throughput of each,
# their ratio (goal >= 0.9x curl), and the peak private memory of the Windows
# process while it downloads (goal < 32 MiB). A bare WinHTTP read loop in the
# same process shows what the platform itself delivers.
# The package goes over plain HTTP on loopback: DownloadFile keeps the
# platform's certificate checks, which refuse the kit's self-signed
# certificate. curl writes to /dev/null; DownloadFile into the Wine prefix.
# Exits non-zero only when a result is wrong (a download failed, its bytes
# differ) or something could not run; slow figures are reported, not failed.
# MB/s means 10^6 bytes per second; each figure is the best of 3 runs: other
# work on a shared machine only ever makes a run slower.
# WEX_BENCH_BUILD=<folder> uses that build folder (default: the preset's).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
source tools/wine_env.sh

build=${WEX_BENCH_BUILD:-$WEX_RUN_BUILD}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$WEX_RUN_ARCH.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
prefix="$build/wineprefix"
bin="$prefix/drive_c/wex/bin"
if ninja -C "$build" -t query download_bench >/dev/null 2>&1; then
  cmake --build "$build" --target download_bench
else
  # The build does not list tools/testkit/bench_download yet: the same two
  # sources with the build's compiler and flags.
  echo "download: building download_bench.exe by hand (no download_bench target in $build)"
  mkdir -p "$bin"
  "$WEX_RUN_ARCH-w64-mingw32-g++-posix" -std=c++20 -O3 -DNDEBUG -DUNICODE -D_UNICODE -DNOMINMAX \
    -D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -Isrc tools/testkit/bench_download/download_bench.cpp \
    src/net/download_file.cpp -municode -static -static-libgcc -static-libstdc++ -lwinhttp -lpsapi \
    -o "$bin/download_bench.exe"
fi

loader=$WEX_RUN_LOADER
tools/wine_prefix.sh "$prefix" "$loader"
run="$build/wine-run"
bench='C:\wex\bin\download_bench.exe'
out_win='C:\wex\bench\download.bin'
out_unix="$prefix/drive_c/wex/bench/download.bin"
state="$build/download-bench-server"

# A wineserver already serving this prefix (someone's test run) is left alone;
# "-k0" signals nothing and fails when no server runs.
own_wineserver=0
cleanup() {
  python3 tools/testkit/fixture_server.py stop --state-dir "$state" || true
  rm -rf "$state"
  rm -f "$out_unix"
  rmdir "$prefix/drive_c/wex/bench" 2>/dev/null || true
  if [ $own_wineserver = 1 ]; then wex_stop_wineserver "$prefix"; fi
}
trap cleanup EXIT
if ! WINEPREFIX="$prefix" /usr/lib/wine/wineserver64 -k0 2>/dev/null; then
  own_wineserver=1
  wex_start_wineserver "$prefix"
fi

python3 tools/testkit/fixture_server.py start --state-dir "$state" >/dev/null
mkdir -p "$state/files/bench" "$(dirname "$out_unix")"
package="$state/files/bench/package.bin"
head -c $((512 * 1024 * 1024)) /dev/urandom > "$package"
bytes=$(stat -c %s "$package")
expected_md5=$(md5sum "$package" | cut -d' ' -f1)
port=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["http"])' "$state/ports.json")
url="http://127.0.0.1:$port/bench/package.bin"
echo "download: $((bytes / 1024 / 1024)) MiB package at $url"

# Figures printed by download_bench: "<name> <value>" lines, with Windows line ends.
bench_value() {  # $1 output, $2 name
  printf '%s\n' "$1" | tr -d '\r' | awk -v name="$2" '$1 == name { print $2; exit }'
}
max() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a > b) ? a : b }'; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

# Runs download_bench with $@, sampling the Windows process's resident
# memory until it ends. Sets: out, rss_anon_kb and hwm_kb (peaks seen).
measure() {
  local pid
  "$run" "$bench" "$@" > "$state/bench.out" 2>/dev/null &
  pid=$!
  rss_anon_kb=0
  hwm_kb=0
  while kill -0 "$pid" 2>/dev/null; do
    if [ -r "/proc/$pid/status" ]; then
      read -r anon hwm < <(awk '/^RssAnon:/ { a = $2 } /^VmHWM:/ { h = $2 } END { print a + 0, h + 0 }' \
                                 "/proc/$pid/status" 2>/dev/null || echo "0 0")
      rss_anon_kb=$(max "$anon" "$rss_anon_kb")
      hwm_kb=$(max "$hwm" "$hwm_kb")
    fi
    sleep 0.05
  done
  wait "$pid" || { echo "download: download_bench $* failed:" >&2; cat "$state/bench.out" >&2; exit 1; }
  out=$(cat "$state/bench.out")
  if [ "$(bench_value "$out" bytes)" != "$bytes" ]; then
    echo "download: download_bench $* wrote $(bench_value "$out" bytes) bytes, not $bytes" >&2
    exit 1
  fi
}

curl_best="" ours_best="" bare_best="" chunks="" anon_peak=0 hwm_peak=0 pagefile_peak=0
for round in 1 2 3; do
  read -r got seconds < <(curl -s -o /dev/null -w '%{size_download} %{time_total}\n' "$url")
  [ "$got" = "$bytes" ] || { echo "download: curl got $got bytes, not $bytes" >&2; exit 1; }
  curl_best=$(min "$seconds" "$curl_best")

  measure "$url" "$out_win"
  ours_best=$(min "$(bench_value "$out" seconds)" "$ours_best")
  chunks=$(bench_value "$out" chunks)
  anon_peak=$(max "$rss_anon_kb" "$anon_peak")
  hwm_peak=$(max "$hwm_kb" "$hwm_peak")
  pagefile_peak=$(max "$(bench_value "$out" peakPagefileUsage)" "$pagefile_peak")
  if [ $round = 3 ]; then
    actual_md5=$(md5sum "$out_unix" | cut -d' ' -f1)
    [ "$actual_md5" = "$expected_md5" ] || { echo "download: the downloaded file differs" >&2; exit 1; }
  fi

  measure --bare "$url" "$out_win"
  bare_best=$(min "$(bench_value "$out" seconds)" "$bare_best")
done

echo "download: DownloadFile wrote the package intact ($chunks chunks from the platform)"
awk -v b="$bytes" -v curl="$curl_best" -v ours="$ours_best" -v bare="$bare_best" 'BEGIN {
  c = b / 1e6 / curl; o = b / 1e6 / ours; w = b / 1e6 / bare; r = o / c
  printf "download: curl %.0f MB/s, DownloadFile %.0f MB/s, ratio %.2fx (goal >= 0.9x)%s\n",
         c, o, r, (r < 0.9 ? "  BELOW GOAL" : "")
  printf "download: bare WinHTTP read loop %.0f MB/s; DownloadFile reaches %.2fx of it\n", w, o / w
}'
awk -v anon="$anon_peak" -v hwm="$hwm_peak" -v pagefile="$pagefile_peak" 'BEGIN {
  a = anon / 1024; p = pagefile / 1048576; worst = (a > p ? a : p)
  printf "download: peak private memory of the downloading process: %.1f MiB (RssAnon sampled %.1f MiB, " \
         "PeakPagefileUsage %.1f MiB; VmHWM with shared pages %.1f MiB) (goal < 32 MiB)%s\n",
         worst, a, p, hwm / 1024, (worst >= 32 ? "  ABOVE GOAL" : "")
}'
