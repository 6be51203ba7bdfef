#!/usr/bin/env bash
# Fails when a vector variant of the kernel has lanes handled one at a time:
# a byte inserted into or extracted from a vector register (what GCC emits
# for a compare on vectors wider than the target's registers), or misses the
# instructions that show its work done on whole vectors: the byte compares
# of the chunk kernel and the row encoders, the streaming stores of the row
# decoders and encoders, the interleave and the narrowing of 4-bit rows, the
# ORs of the 4-bit check. Prints per function what it counted.
# Usage: check_kernel_asm.sh OBJECT [aarch64]
#   OBJECT: the built pixel_kernel.cpp.o, of x86-64 or (with aarch64) of an
#   aarch64 cross build, where the 16-byte variant must become NEON.
set -euo pipefail
object=$1
arch=${2:-x86_64}
listing=$(mktemp)
trap 'rm -f "$listing"' EXIT
# function, then each instruction (a regular expression) it must have
if [ "$arch" = aarch64 ]; then
  aarch64-linux-gnu-objdump -d --no-show-raw-insn -C "$object" >"$listing"
  rows=("runVector16 cm(hs|hi|ge|gt)"
        "decodeRowVector16 zip[12]"
        "encodeRowVector16 cm(hs|hi|ge|gt) (uzp1|xtn)"
        "fitNibblesVector16 orr")
  lane_ops='umov|smov|ins'
else
  objdump -d --no-show-raw-insn -C "$object" >"$listing"
  rows=("runVector16 pcmpgtb" "runAvx2 vpcmpgtb" "runAvx512 vpcmpn?l[te]ub"
        "decodeRowVector16 movntdq punpcklbw"
        "decodeRowAvx2 vmovntdq vpmovzxbw"
        "decodeRowAvx512 vmovntdq vpmovzxbw"
        "encodeRowVector16 pcmpgtb movntdq packuswb"
        "encodeRowAvx2 vpcmpgtb vmovntdq vpackuswb"
        "encodeRowAvx512 vpcmpgtb vmovntdq vpackuswb"
        "fitNibblesVector16 por" "fitNibblesAvx2 vpor" "fitNibblesAvx512 vporq?")
  lane_ops='v?pinsrb|v?pextrb'
fi

status=0
for row in "${rows[@]}"; do
  read -r function wanted <<<"$row"
  body=$(awk -v f="::$function(" 'index($0, f) && /^[0-9a-f]+ </ {p = 1; next} /^[0-9a-f]+ </ {p = 0} p' "$listing")
  instructions=$(grep -c . <<<"$body" || true)
  lanes=$(grep -cE "\s($lane_ops)\s" <<<"$body" || true)
  counts=""
  missing=0
  for instruction in $wanted; do
    found=$(grep -cE "\s$instruction\s" <<<"$body" || true)
    counts="$counts, $found $instruction"
    [ "$found" -ne 0 ] || missing=1
  done
  echo "$function: $instructions instructions$counts, $lanes byte inserts/extracts"
  if [ "$instructions" -eq 0 ] || [ "$lanes" -ne 0 ] || [ "$missing" -ne 0 ]; then
    echo "$function: lanes handled one at a time, an instruction missing, or no such function"
    status=1
  fi
done
exit $status
