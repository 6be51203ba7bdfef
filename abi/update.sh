#!/usr/bin/env bash
# Stores the ABI of a built libdaz in abi/, the one abi/check.sh and the test
# Library.AbiAsStored compare every build with. Run it when a major version
# starts (a new SONAME: the other majors' files go), or to take in calls and
# types added within one, which it stores only if the rest is unchanged
# (--force stores an incompatible change too: that needs a new major).
# Usage: abi/update.sh [--force] [BUILD_DIR]   (BUILD_DIR: build/default,
#        built with debug information, as every build of libdaz.so is)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
force=no
if [ "${1:-}" = --force ]; then
  force=yes
  shift
fi
build=${1:-$here/../build/default}
library=$(readlink -f "$build/libdaz.so")
[ -f "$library" ] || { echo "no libdaz.so in $build: build it first"; exit 1; }
soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ -f "$here/$soname.abi" ] && [ "$force" = no ]; then
  "$here/check.sh" "$library" "$here/../include/daz" "$here" ||
    { echo "not stored: the change above is incompatible with $soname"; exit 1; }
fi
"$here/check.sh" --dump "$library" "$here/../include/daz" "$here"
for old in "$here"/libdaz.so.*.abi; do
  case $(basename "$old") in
    "$soname.abi" | "$soname.headers.abi") ;;
    *) rm -- "$old" && echo "removed $old, of another major version" ;;
  esac
done
