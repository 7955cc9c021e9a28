#!/usr/bin/env bash
# A test program that finds its network namespace unsafe starts itself over through
# /proc/self/exe (tests/support/NetnsGuard.cpp), as it does whenever ctest runs outside a
# private namespace. On the emulated processor without AVX2 the new image must still run
# emulated, or the image-pipeline tests there prove nothing: here the program starts in a
# private namespace holding a link without a test address (which the guard takes as unsafe,
# like a machine's own network), and its AVX2 tests must still be skipped.
# Usage: CheckNoAvx2Reexec.sh <qemu-x86_64> <isp_colour_test>
set -euo pipefail
qemu=$1
program=$2
# shellcheck disable=SC2016
out=$(unshare --net -- sh -c \
  'ip link add qvreexec0 type veth peer name qvreexec1 && exec "$0" -cpu Nehalem "$1" "$2"' \
  "$qemu" "$program" --gtest_filter=Families/Yuv422Family.EveryChromaValue/Avx2)
echo "$out"
if ! grep -q '^\[  SKIPPED \] 1 test' <<<"$out"; then
  echo "the AVX2 test ran: the program left the emulator when it started itself over" >&2
  exit 1
fi
