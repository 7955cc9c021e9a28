#!/usr/bin/env bash
# The library on an emulated processor without AVX2 (QEMU user mode, Nehalem: SSE4.2, no AVX):
# it loads (its constructors run) and answers its version call, the SSE4.1 family is chosen,
# and frames of each kind, in every setting that chooses a code path, go through the probe's
# own static copy of the kernels (the library's exports process frames only for an opened
# camera) with the same bytes as this processor computes in its own family. Any AVX
# instruction run outside the family check stops the emulated program with SIGILL.
# Usage: CheckNoAvx2.sh <qemu-x86_64> <probe program> <library>
set -euo pipefail
qemu=$1
probe=$2
library=$3
native=$("$probe" "$library")
emulated=$("$qemu" -cpu Nehalem "$probe" "$library")
echo "$emulated"
if [ "$(head -n1 <<<"$emulated")" != "family sse4.1" ]; then
  echo "the emulated processor did not get the SSE4.1 family" >&2
  exit 1
fi
if ! diff <(tail -n +2 <<<"$native") <(tail -n +2 <<<"$emulated") >&2; then
  echo "the families computed different bytes (left: this processor, $(head -n1 <<<"$native"))" >&2
  exit 1
fi
