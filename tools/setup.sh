#!/usr/bin/env bash
# Takes a Debian 12 machine (as root) to a tree that builds and tests.
# Idempotent: every step checks before it changes anything.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export DEBIAN_FRONTEND=noninteractive

packages=(cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 wine32:i386
          xvfb xauth libz-mingw-w64-dev nlohmann-json3-dev googletest python3 openssl
          osslsigncode dpkg-dev g++ curl)

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

# Source entries mirror the binary entries already configured, so the sources
# come from the same archive and snapshot as the installed packages.
src_list=/etc/apt/sources.list.d/wexdownloader-src.sources
if [ ! -f "$src_list" ]; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -e 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$src_list"
  elif [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed -e 's/^deb /deb-src /' \
      > /etc/apt/sources.list.d/wexdownloader-src.list
    touch "$src_list"
  fi
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  need_update=1
fi
if [ $need_update -eq 1 ]; then
  apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# pugixml and minizip sources: fetched from the archive, never committed.
deps="$here/third_party_src"
mkdir -p "$deps"
fetch_source() {  # $1 package, $2 glob of the unpacked folder
  if ! compgen -G "$deps/$2" >/dev/null; then
    (cd "$deps" && apt-get source --download-only -q "$1" && \
       for dsc in "$1"_*.dsc; do dpkg-source -x "$dsc" >/dev/null; done)
  fi
}
fetch_source pugixml 'pugixml-*/src/pugixml.cpp'
fetch_source minizip 'minizip-*/unzip.c'
echo "setup: ok"
