#!/usr/bin/env bash
# The commands of a cross build, run through their emulator, against those of
# the build machine's own build: the same exit status, the same messages (the
# Windows console's CRLF line ends aside) and the same output files, byte for
# byte, for the samples, every file of the BMP Suite and the test PNGs, each
# also reduced and dithered by rgbdaz (the quantizer's integer arithmetic
# gives the same bytes everywhere); and a file name that is not ASCII.
# Usage: same_output.sh "EMULATOR WORDS" TARGET_BIN_DIR REFERENCE_BUILD SOURCE_DIR BMPSUITE
set -euo pipefail
read -r -a emulator <<<"$1"
target=$2
reference=$3
source=$4
suite=$5
suffix=
[ -f "$target/orvx.exe" ] && suffix=.exe
for command in orvx dazbmp pngdaz dazpng rgbdaz; do
  [ -x "$reference/$command" ] ||
    { echo "no $reference/$command (SameOutput.BuildMachineBuild builds it)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/native" "$work/target" "$work/pngs"
checked=0
failed=0

# Runs COMMAND ARGS on both sides; OUT in the arguments stands for a file in
# the side's own folder. Compares status, messages and that file.
both() {
  local command=$1 out=$2
  shift 2
  local native_args=() target_args=() arg
  for arg in "$@"; do
    native_args+=("${arg//OUT/$work/native/$out}")
    target_args+=("${arg//OUT/$work/target/$out}")
  done
  local native_status=0 target_status=0
  "$reference/$command" "${native_args[@]}" >"$work/native.txt" 2>&1 || native_status=$?
  "${emulator[@]}" "$target/$command$suffix" "${target_args[@]}" >"$work/target.txt" 2>&1 ||
    target_status=$?
  # The emulator can itself fail to start a program now and then: Wine then
  # prints a line of its own and exits with 1, a status the tools never use.
  # That case is run once more, and said.
  if [ "$target_status" = 1 ]; then
    echo "the emulator failed, run once more: $command $*: $(head -c 300 "$work/target.txt")"
    target_status=0
    "${emulator[@]}" "$target/$command$suffix" "${target_args[@]}" >"$work/target.txt" 2>&1 ||
      target_status=$?
  fi
  tr -d '\r' <"$work/target.txt" >"$work/target-lf.txt"
  checked=$((checked + 1))
  local problem=
  [ "$native_status" = "$target_status" ] || problem="status $target_status, natively $native_status"
  cmp -s "$work/native.txt" "$work/target-lf.txt" || problem="$problem; the messages differ"
  if [ -e "$work/native/$out" ] || [ -e "$work/target/$out" ]; then
    cmp -s "$work/native/$out" "$work/target/$out" || problem="$problem; $out differs"
  fi
  if [ -n "$problem" ]; then
    failed=$((failed + 1))
    echo "DIFFERENT: $command $*: $problem"
    diff "$work/native.txt" "$work/target-lf.txt" | head -n 20 || true
  fi
  return 0
}

[ -f "$suite/g/pal8.bmp" ] || { echo "no BMP Suite in $suite"; exit 1; }
bitmaps=("$source"/samples/*.bmp "$suite"/*/*.bmp)
for bmp in "${bitmaps[@]}"; do
  name=$(basename "$(dirname "$bmp")")-$(basename "$bmp" .bmp)
  for args in "0 1f2e" "9 0"; do
    read -r count key <<<"$args"
    both orvx "$name-$count.daz" -c "$bmp" OUT "$count" "$key"
  done
  both rgbdaz "$name-r.daz" -d "$bmp" OUT 16 1f2e
  daz="$work/native/$name-9.daz"
  if [ -f "$daz" ]; then
    both orvx none -r "$daz"
    both dazbmp "$name.bmp" "$daz" OUT
    both dazpng "$name.png" "$daz" OUT
  fi
done

/usr/bin/python3 "$source/tests/png_cases.py" "$work/pngs" "$(command -v convert || true)"
for png in "$work"/pngs/*.png; do
  [ "$(stat -c %s "$png")" -lt 1000000 ] || continue
  both pngdaz "$(basename "$png" .png).daz" "$png" OUT 3 abcd
  both rgbdaz "$(basename "$png" .png)-r.daz" "$png" OUT 200
  both rgbdaz "$(basename "$png" .png)-d.daz" -d -t 0 -s 80c0ff "$png" OUT 40 abcd
done

# A name in another alphabet, both ways.
cp "$source/samples/sample8.bmp" "$work/campione-àèìòù-日本.bmp"
both orvx "uscita-ü.daz" -c "$work/campione-àèìòù-日本.bmp" OUT 200 1f2e
[ -f "$work/target/uscita-ü.daz" ] || { failed=$((failed + 1)); echo "no file with a non-ASCII name"; }

# Over files that exist: each side's own from the first run.
both orvx "uscita-ü.daz" -c "$source/samples/sample4.bmp" OUT 9 ab
both dazpng "samples-sample8.png" "$work/native/samples-sample8-9.daz" OUT
leftovers=$(find "$work/target" -name '.*.orvx-*')
[ -z "$leftovers" ] || { failed=$((failed + 1)); echo "left behind: $leftovers"; }

if [ -n "$suffix" ]; then
  # The Windows console's line ends.
  "${emulator[@]}" "$target/orvx$suffix" -r "$work/native/samples-sample8-0.daz" >"$work/crlf.txt" 2>&1 || true
  grep -q $'\r$' "$work/crlf.txt" || { failed=$((failed + 1)); echo "no CRLF line ends"; }
fi

echo "$checked runs compared, $failed different"
[ "$failed" -eq 0 ]
