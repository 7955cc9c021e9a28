#!/usr/bin/env bash
# The library must load and run on a processor without AVX2: only the AVX2 kernels may hold
# AVX instructions. Every function of the linked library that holds a VEX-encoded instruction
# must be defined by an object of an *Avx2.cpp source and by no other object, where the linker
# could otherwise have taken the AVX2 copy of a shared inline function for every caller. What
# runs when, such as a constructor at load calling an AVX2 kernel, is for isp_no_avx2_probe_test
# to find, on an emulated processor without AVX2.
# Usage: CheckAvx2Containment.sh <library> <object files...>
set -euo pipefail
library=$1
shift
avx2_objects=()
other_objects=()
for object in "$@"; do
  case "$object" in
    *Avx2.cpp.o) avx2_objects+=("$object") ;;
    *) other_objects+=("$object") ;;
  esac
done
if [ ${#avx2_objects[@]} -eq 0 ]; then
  echo "no AVX2 objects given" >&2
  exit 1
fi
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
# Functions of the library holding a VEX instruction (v-prefixed mnemonics or ymm registers).
objdump -d --no-show-raw-insn "$library" |
  awk '/^[0-9a-f]+ <.*>:$/ { fn = $2; next }
       /\tv[a-z0-9]+ |%ymm/ { if (!(fn in seen)) { seen[fn] = 1; print fn } }' |
  sed 's/^<//; s/>:$//; s/@.*//' | sort -u > "$workdir/vex"
nm --defined-only "${avx2_objects[@]}" 2>/dev/null | awk 'NF == 3 { print $3 }' | sort -u > "$workdir/avx2"
nm --defined-only "${other_objects[@]}" 2>/dev/null | awk 'NF == 3 { print $3 }' | sort -u > "$workdir/other"
status=0
count=0
while read -r fn; do
  count=$((count + 1))
  if ! grep -qxF "$fn" "$workdir/avx2"; then
    echo "VEX instructions outside the AVX2 sources: $fn" >&2
    status=1
  elif grep -qxF "$fn" "$workdir/other"; then
    echo "defined by an AVX2 source and another object: $fn" >&2
    status=1
  fi
done < "$workdir/vex"
if [ "$count" -eq 0 ]; then
  echo "no AVX2 code found in $library" >&2
  exit 1
fi
if [ "$status" -eq 0 ]; then
  echo "$count functions with AVX instructions, all from the AVX2 sources"
fi
exit $status
