#!/usr/bin/env bash
# Creates (once) a private Wine prefix at $1 that maps no drive outside itself:
# the installer writes to the last writable fixed drive, so a Z: pointing at the
# host's root would let a test write into the host's own file system.
# $2: the Wine loader to use (/usr/lib/wine/wine or /usr/lib/wine/wine64).
set -euo pipefail
prefix=$(realpath -m "$1")
loader=${2:-/usr/lib/wine/wine}
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
if [ ! -f "$prefix/.wex-ready" ]; then
  mkdir -p "$prefix"
  "$loader" wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w || true
  [ -f "$prefix/system.reg" ] || { echo "wine_prefix: $loader could not create $prefix" >&2; exit 1; }
  # The shell folders of a new prefix link into the host's home folder.
  for user_dir in "$prefix"/drive_c/users/*/; do
    for f in "$user_dir"*; do
      if [ -L "$f" ]; then rm -f "$f"; mkdir -p "$f"; fi
    done
  done
  touch "$prefix/.wex-ready"
fi
# Only C: stays: every other drive (Z: above all) reaches outside the prefix.
for d in "$prefix"/dosdevices/*; do
  case "$(basename "$d")" in
    c:|com*|lpt*) ;;
    *) rm -f "$d" ;;
  esac
done
