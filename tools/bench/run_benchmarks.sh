#!/usr/bin/env bash
# Throughput of the foundation on this machine, as figures to read (never a
# timed test): GetFileHexMd5 against coreutils md5sum on the same 256 MiB file,
# then the logger with 4 threads of 200,000 statements each.
# Exits non-zero only when a result is wrong (digests differ, the log is not
# whole) or something could not run; slow figures are reported, not failed.
# MB/s means 10^6 bytes per second. Each timing is the best of 3 warm runs:
# other work on a shared machine only ever makes a run slower.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
bash tools/setup.sh
source tools/wine_env.sh

cmake --preset "$WEX_RUN_PRESET" >/dev/null
cmake --build --preset "$WEX_RUN_PRESET" --target wex_bench

prefix="$root/$WEX_RUN_BUILD/wineprefix"
loader=$WEX_RUN_LOADER
tools/wine_prefix.sh "$prefix" "$loader"
run="$root/$WEX_RUN_BUILD/wine-run"
bench='C:\wex\bin\wex_bench.exe'

# The input lives inside the prefix: the prefix maps no drive outside itself.
data_dir="$prefix/drive_c/wex/bench"
data="$data_dir/md5_input.bin"
data_win='C:\wex\bench\md5_input.bin'
log_files=()
cleanup() {
  rm -f "$data"
  rmdir "$data_dir" 2>/dev/null || true
  for f in "${log_files[@]}"; do rm -f "$f" "$f.bak"; done
  wex_stop_wineserver "$prefix"
}
trap cleanup EXIT
wex_start_wineserver "$prefix"

mkdir -p "$data_dir"
head -c $((256 * 1024 * 1024)) /dev/urandom > "$data"
bytes=$(stat -c %s "$data")

# Figures printed by wex_bench: "<name> <value>" lines, with Windows line ends.
bench_value() {  # $1 output, $2 name
  printf '%s\n' "$1" | tr -d '\r' | awk -v name="$2" '$1 == name { print $2; exit }'
}
now() { date +%s.%N; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

echo "md5: $((bytes / 1024 / 1024)) MiB of random bytes at $data_win"
md5sum "$data" >/dev/null
"$run" "$bench" md5 "$data_win" >/dev/null
sum_best=""
ours_best=""
for _ in 1 2 3; do
  start=$(now)
  expected=$(md5sum "$data" | cut -d' ' -f1)
  sum_best=$(min "$(awk -v s="$start" -v e="$(now)" 'BEGIN { print e - s }')" "$sum_best")

  out=$("$run" "$bench" md5 "$data_win")
  actual=$(bench_value "$out" digest)
  ours_best=$(min "$(bench_value "$out" seconds)" "$ours_best")
  if [ "$actual" != "$expected" ]; then
    echo "md5: MISMATCH: ours $actual, md5sum $expected" >&2
    exit 1
  fi
done
echo "md5: digests agree ($expected)"
awk -v b="$bytes" -v ours="$ours_best" -v sum="$sum_best" 'BEGIN {
  o = b / 1e6 / ours; s = b / 1e6 / sum; r = o / s
  printf "md5: ours %.0f MB/s, md5sum %.0f MB/s, ratio %.2fx (goal >= 0.8x)%s\n",
         o, s, r, (r < 0.8 ? "  BELOW GOAL" : "")
}'

echo "logger: 4 threads x 200000 statements"
set +e
out=$("$run" "$bench" logger 4 200000)
status=$?
set -e
printf '%s\n' "$out" | tr -d '\r' | sed 's/^/logger: /'
log_win=$(bench_value "$out" log)
if [ -n "$log_win" ]; then
  log_unix="$prefix/drive_c/$(printf '%s' "${log_win#[Cc]:\\}" | tr '\\' '/')"
  log_files+=("$log_unix")
fi
exit $status
