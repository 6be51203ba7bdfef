#!/usr/bin/env bash
# Runs the kernel tests, the quantizer's tests (its stored digests) and the
# conversion of the samples under qemu-user as processors without AVX
# (Nehalem: the sse2 variant) and with AVX2 but no AVX-512 (max in qemu 7.2:
# the avx2 variant). The daz files and messages, rgbdaz's reductions among
# them, must equal those of a native run, whatever variant that picked.
# Usage: emulated_cpus.sh QEMU ORVX ORVX_TESTS SOURCE_DIR
set -euo pipefail
qemu=$1
orvx=$2
tests=$3
source=$4
rgbdaz=$(dirname "$orvx")/rgbdaz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# cpu, the variant it must run, the variant it must skip
for row in "Nehalem sse2 avx2" "max avx2 avx512"; do
  read -r cpu runs skips <<<"$row"
  log="$work/$cpu.log"
  "$qemu" -cpu "$cpu" "$tests" --gtest_filter='Variants/KernelTest.*:KernelDispatch.*' >"$log" 2>&1 ||
    { cat "$log"; echo "kernel tests failed as $cpu"; exit 1; }
  grep -q "can't run the $skips variant" "$log" || { echo "$cpu ran $skips"; exit 1; }
  ! grep -q "can't run the $runs variant" "$log" || { echo "$cpu skipped $runs"; exit 1; }
  "$qemu" -cpu "$cpu" "$tests" --gtest_filter='Quantize.*' >"$log" 2>&1 ||
    { cat "$log"; echo "quantizer tests failed as $cpu"; exit 1; }
  for args in "@S/sample8.bmp @O 16 1f2e" "-d @S/sample8.bmp @O 200" "-d -s 336699 @S/sample4.bmp @O 4"; do
    read -r -a words <<<"$args"
    words=("${words[@]//@S/$source/samples}")
    native=$("$rgbdaz" "${words[@]//@O/$work/native.daz}")
    emulated=$("$qemu" -cpu "$cpu" "$rgbdaz" "${words[@]//@O/$work/emulated.daz}")
    [ "$native" = "$emulated" ] || { echo "$cpu, rgbdaz $args: printed '$emulated', natively '$native'"; exit 1; }
    cmp "$work/native.daz" "$work/emulated.daz" || { echo "$cpu, rgbdaz $args: the daz files differ"; exit 1; }
  done
  for args in "sample8.bmp 200 1f2e" "sample8.bmp 0 ffff" "sample8.bmp 1 0" \
              "sample4.bmp 9 1f2e" "sample4.bmp 16 8001" "sample4.bmp 1 0100"; do
    read -r sample count key <<<"$args"
    native=$("$orvx" -c "$source/samples/$sample" "$work/native.daz" "$count" "$key")
    emulated=$("$qemu" -cpu "$cpu" "$orvx" -c "$source/samples/$sample" "$work/emulated.daz" "$count" "$key")
    [ "$native" = "$emulated" ] || { echo "$cpu, $args: printed '$emulated', natively '$native'"; exit 1; }
    cmp "$work/native.daz" "$work/emulated.daz" || { echo "$cpu, $args: the daz files differ"; exit 1; }
  done
  echo "$cpu: kernel and quantizer tests pass with $runs, samples convert as natively"
done
