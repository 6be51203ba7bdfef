#!/usr/bin/env bash
# Fails when a vector variant of the kernel has lanes handled one at a time:
# a byte inserted into or extracted from a vector register (what GCC emits
# for a compare on vectors wider than the target's registers), or no vector
# byte compare at all. Prints per variant what it counted.
# Usage: check_kernel_asm.sh OBJECT [aarch64]
#   OBJECT: the built pixel_kernel.cpp.o, of x86-64 or (with aarch64) of an
#   aarch64 cross build, where the 16-byte variant must become NEON.
set -euo pipefail
object=$1
arch=${2:-x86_64}
listing=$(mktemp)
trap 'rm -f "$listing"' EXIT
if [ "$arch" = aarch64 ]; then
  aarch64-linux-gnu-objdump -d --no-show-raw-insn -C "$object" >"$listing"
  rows=("runVector16 cm(hs|hi|ge|gt)")
  lane_ops='umov|smov|ins'
else
  objdump -d --no-show-raw-insn -C "$object" >"$listing"
  rows=("runVector16 pcmpgtb" "runAvx2 vpcmpgtb" "runAvx512 vpcmpn?l[te]ub")
  lane_ops='v?pinsrb|v?pextrb'
fi

status=0
# function, the instruction its compares must use
for row in "${rows[@]}"; do
  read -r function compare <<<"$row"
  body=$(awk -v f="::$function(" 'index($0, f) && /^[0-9a-f]+ </ {p = 1; next} /^[0-9a-f]+ </ {p = 0} p' "$listing")
  instructions=$(grep -c . <<<"$body" || true)
  lanes=$(grep -cE "\s($lane_ops)\s" <<<"$body" || true)
  compares=$(grep -cE "\s$compare\s" <<<"$body" || true)
  echo "$function: $instructions instructions, $compares vector byte compares, $lanes byte inserts/extracts"
  if [ "$instructions" -eq 0 ] || [ "$lanes" -ne 0 ] || [ "$compares" -eq 0 ]; then
    echo "$function: lanes handled one at a time, or the variant is missing"
    status=1
  fi
done
exit $status
