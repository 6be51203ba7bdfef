#!/usr/bin/env bash
# libdaz exports exactly the names listed in src/api/daz.symbols, from both
# libdaz.so (its dynamic symbols; daz.dll: its export table) and libdaz.a;
# and the list holds exactly the names the header declares.
# Usage: symbols_test.sh NM OBJDUMP SHARED_LIBRARY STATIC_LIBRARY LIST HEADER
set -euo pipefail
nm=$1 objdump=$2 shared=$3 static=$4 list=$5 header=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

sort -c "$list" 2>/dev/null || { echo "$list is not sorted"; failed=1; }
if [[ $shared == *.dll ]]; then
  "$objdump" -p "$shared" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort -u >"$work/shared"
else
  "$nm" -D --defined-only "$shared" | awk '{print $NF}' | sed 's/@.*//' | sort -u >"$work/shared"
fi
if ! diff -u "$list" "$work/shared" >"$work/diff"; then
  echo "$(basename "$shared") exports other names than $list (- listed only, + exported only):"
  cat "$work/diff"
  failed=1
fi
# The static library: every listed name defined, and no other daz_ name.
"$nm" --defined-only "$static" 2>/dev/null | awk '$2 == "T" && $3 ~ /^daz_/ {print $3}' |
  sort -u >"$work/static"
if ! diff -u "$list" "$work/static" >"$work/diff"; then
  echo "libdaz.a defines other daz_ functions than $list:"
  cat "$work/diff"
  failed=1
fi

# The names the header marks DAZ_API, each on the line of its DAZ_API.
sed -n 's/^DAZ_API .*[ *]\(daz_[a-z0-9_]*\)(.*/\1/p' "$header" | sort -u >"$work/header"
[ -s "$work/header" ] || { echo "no DAZ_API name found in $header"; exit 1; }
extra=$(comm -13 "$work/header" "$list")
if [ -n "$extra" ]; then
  echo "listed, but not declared in $header:" $extra
  failed=1
fi
missing=$(comm -23 "$work/header" "$list")
if [ -n "$missing" ]; then
  echo "declared in $header, but not exported:" $missing
  failed=1
fi
exit "$failed"
