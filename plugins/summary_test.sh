#!/usr/bin/env bash
# The configure summary names every plugin, built or skipped with its reason:
# configure-only runs of the tree in a temporary folder, as it is and with
# every host hidden.
# Usage: summary_test.sh SOURCE_DIR
set -euo pipefail
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
hosts=(gdk-pixbuf "Qt 6" "Qt 5" ImageMagick GIMP)
# flags | the "Plugins built:" line expected (*: any)
runs="
|*
-DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON -DCMAKE_DISABLE_FIND_PACKAGE_Qt5=ON|none"
status=0
n=0
while IFS='|' read -r flags built; do
  [ -n "$built" ] || continue
  n=$((n + 1))
  read -r -a words <<<"$flags"
  cmake -S "$source" -B "$work/$n" -DCMAKE_BUILD_TYPE=Release "${words[@]}" >"$work/$n.log" 2>&1 ||
    { echo "FAIL: configure $flags: $(tail -5 "$work/$n.log")"; exit 1; }
  summary=$(grep -E '^-- Plugins (built|skipped):' "$work/$n.log")
  # shellcheck disable=SC2053 # the expected line may be a pattern
  [[ $(sed -n 's/^-- Plugins built: //p' <<<"$summary") == $built ]] ||
    { echo "FAIL: $flags: built, expected $built: $summary"; status=1; }
  for host in "${hosts[@]}"; do
    grep -q "[:,;] $host" <<<"$summary" || { echo "FAIL: $flags: $host not named: $summary"; status=1; }
  done
done <<<"$runs"
[ "$status" -eq 0 ] && echo "every plugin named in $n summaries"
exit "$status"
