#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the installed tree to
# another folder, and runs every installed program there, as a user would,
# with nothing telling the loader where libdaz.so is: each must find what it
# needs by itself (a program on the shared libdaz, the one in the tree) and
# succeed. Each program in bin/ must have a run in the table.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/moved"
prefix="$work/moved"

# program | arguments, in order (@W: the work folder, @S: the source tree)
runs="
orvx|-c @S/samples/sample8.bmp @W/s.daz 200 1f2e
orvx|-r @W/s.daz
dazbmp|@W/s.daz @W/s.bmp
dazpng|@W/s.daz @W/s.png
dazgif|@W/s.daz @W/s.gif
pngdaz|@W/s.png @W/t.daz 200 1f2e
rgbdaz|-d @S/samples/sample8.bmp @W/r.daz 16 1f2e
daz-thumbnailer|-s 32 @W/s.daz @W/thumbnail.png"
comm -23 <(ls "$prefix/bin" | sort) <(echo "$runs" | cut -d'|' -f1 | sort -u) >"$work/untried"
[ ! -s "$work/untried" ] || fail "installed, and not run here: $(cat "$work/untried")"

while IFS='|' read -r program arguments; do
  [ -n "$program" ] || continue
  read -r -a words <<<"$arguments"
  words=("${words[@]//@W/$work}")
  words=("${words[@]//@S/$source}")
  if ldd "$prefix/bin/$program" 2>/dev/null | grep libdaz >"$work/loads"; then
    grep -F "=> $prefix/" "$work/loads" >/dev/null ||
      fail "$program loads libdaz from elsewhere: $(cat "$work/loads")"
  fi
  status=0
  env -u LD_LIBRARY_PATH "$prefix/bin/$program" "${words[@]}" >"$work/out" 2>&1 || status=$?
  [ "$status" -eq 0 ] || fail "$program $arguments: exit $status: $(cat "$work/out")"
done <<<"$runs"
echo "installed programs ran: $(ls "$prefix/bin" | tr '\n' ' ')"
