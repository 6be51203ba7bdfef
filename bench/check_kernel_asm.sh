#!/usr/bin/env bash
# Fails when a vector variant of the kernel has lanes handled one at a time:
# a byte inserted into or extracted from a vector register (what GCC emits
# for a compare on vectors wider than the target's registers), or no vector
# byte compare at all. Prints per variant what it counted.
# Usage: check_kernel_asm.sh OBJECT   (the built pixel_kernel.cpp.o; x86-64)
set -euo pipefail
object=$1
listing=$(mktemp)
trap 'rm -f "$listing"' EXIT
objdump -d --no-show-raw-insn -C "$object" >"$listing"

status=0
# function, the instruction its compares must use
for row in "runVector16 pcmpgtb" "runAvx2 vpcmpgtb" "runAvx512 vpcmpn?l[te]ub"; do
  read -r function compare <<<"$row"
  body=$(awk -v f="::$function(" 'index($0, f) && /^[0-9a-f]+ </ {p = 1; next} /^[0-9a-f]+ </ {p = 0} p' "$listing")
  instructions=$(grep -c . <<<"$body" || true)
  lanes=$(grep -cE '\s(v?pinsrb|v?pextrb)\s' <<<"$body" || true)
  compares=$(grep -cE "\s$compare\s" <<<"$body" || true)
  echo "$function: $instructions instructions, $compares vector byte compares, $lanes byte inserts/extracts"
  if [ "$instructions" -eq 0 ] || [ "$lanes" -ne 0 ] || [ "$compares" -eq 0 ]; then
    echo "$function: lanes handled one at a time, or the variant is missing"
    status=1
  fi
done
exit $status
