#!/usr/bin/env bash
# The codec under Wine, in a fresh prefix (a copy of one made once): made
# known to WIC by regsvr32 or by the installer, used by wic_client.exe
# through WIC, then taken away again, after which nothing of the project may
# be left in the prefix's files or registry.
# The installer's rows must be those regsvr32 writes (orvx.wxs and
# registry.c kept alike), the DLL's path aside.
# Usage: wine_test.sh prefix WORK
#        wine_test.sh regsvr32 WORK CLIENT DLL
#        wine_test.sh msi WORK CLIENT MSI DLL [OLDER_MSI]
set -euo pipefail
trap 'echo "FAIL: $BASH_COMMAND (status $?)"' ERR
mode=$1 work=$2
export WINEDEBUG=-all LC_ALL=C.UTF-8
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
pristine=$work/pristine
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
# The project's registry rows, one "key|name|type|value" line each, sorted,
# the codec's path as DLL.
registry_rows() {
  local key
  for key in 'CLSID\{FC40E1C5-7666-4662-9D9B-394F3EB65D5A}' \
    'CLSID\{7ED96837-96F0-4812-B211-F13C24117ED3}\Instance\{FC40E1C5-7666-4662-9D9B-394F3EB65D5A}' \
    '.daz' 'orvx.dazimage' 'MIME\Database\Content Type\image/x-daz'; do
    $wine reg query "HKCR\\$key" /s | tr -d '\r' | awk '
      /^HKEY/ { key = $0; print key; next }
      /^    / { sub(/^    /, ""); n = split($0, f, /    /); print key "|" f[1] "|" f[2] "|" f[3] }'
  done | sed -E 's/[^|]*dazwic\.dll/DLL/' | sort
}

if [ "$mode" = prefix ]; then
  rm -rf "$pristine"
  mkdir -p "$work"
  WINEPREFIX=$pristine $wine wineboot --init >/dev/null 2>&1
  WINEPREFIX=$pristine $server -w
  exit 0
fi
client=$3 payload=$4
export WINEPREFIX=$work/$mode
rm -rf "$WINEPREFIX" "$work/$mode-files"
cp -a "$pristine" "$WINEPREFIX"
mkdir -p "$work/$mode-files"
trap '$server -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
(cd "$WINEPREFIX/drive_c" && find . | sort) >"$work/$mode-before.txt"

case $mode in
  regsvr32)
    $wine regsvr32 /s "$(windows_path "$payload")"
    $wine "$client" "$(windows_path "$work/$mode-files")"
    $wine regsvr32 /u /s "$(windows_path "$payload")"
    ;;
  msi)
    if [ $# -ge 6 ]; then
      # An older version first: the newer one replaces it in place.
      $wine msiexec /i "$(windows_path "$6")" /qn
    fi
    $wine msiexec /i "$(windows_path "$payload")" /qn
    installed="$WINEPREFIX/drive_c/Program Files/orvx"
    for file in orvx.exe dazbmp.exe pngdaz.exe dazpng.exe rgbdaz.exe imgdaz.exe daz.dll dazwic.dll LICENSE.txt; do
      [ -f "$installed/$file" ] || { echo "FAIL not installed: $file"; exit 1; }
    done
    # The PATH feature: the commands run by name (orvx alone prints its usage).
    usage=$($wine orvx.exe 2>&1 || true)
    grep -q 'orvx -c' <<<"$usage" || { echo "FAIL orvx not on PATH: $usage"; exit 1; }
    $wine "$client" "$(windows_path "$work/$mode-files")"
    registry_rows >"$work/msi-rows.txt"
    $wine msiexec /x "$(windows_path "$payload")" /qn
    $wine regsvr32 /s "$(windows_path "$5")"
    registry_rows >"$work/regsvr32-rows.txt"
    $wine regsvr32 /u /s "$(windows_path "$5")"
    if ! diff "$work/regsvr32-rows.txt" "$work/msi-rows.txt"; then
      echo "FAIL the installer's rows differ from regsvr32's (<: regsvr32, >: installer)"; exit 1
    fi
    ;;
esac
$server -w

# Nothing of the project left: no file, no registry row.
(cd "$WINEPREFIX/drive_c" && find . | sort) >"$work/$mode-after.txt"
left=$(comm -13 "$work/$mode-before.txt" "$work/$mode-after.txt" | grep -iE 'orvx|daz' || true)
if [ -n "$left" ]; then
  echo "FAIL files left:"; echo "$left"; exit 1
fi
left=$(grep -iE 'FC40E1C5|CFF6CFBB|orvx|\.daz|image/x-daz|daz image' "$WINEPREFIX"/*.reg || true)
if [ -n "$left" ]; then
  echo "FAIL registry rows left:"; echo "$left"; exit 1
fi
echo "$mode: registered, decoded, removed without a trace"
