#!/bin/sh
# The shared library's interface: exactly the six functions exported, the camera SDK's functions
# bound with their version "libQVCameraSDK", and the SDK found beside it ($ORIGIN run path only).
#   check-tarnlex-library.sh path/to/libTarnlex.so
set -eu
lib=$1
fail() { echo "failed: $*" >&2; exit 1; }

exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort | tr '\n' ' ')
expected="Tarn_GetPreviewImage Tarn_InitDevice Tarn_IsSupportCap Tarn_ReleaseDevice Tarn_SaveXDImageEX Tarn_SetFootDirect "
[ "$exports" = "$expected" ] || fail "exports are: $exports"

for f in CameraEnumerateDevice CameraInit CameraPlay CameraGetImageBufferEx CameraUnInit \
         CameraSetOutputIOMode CameraSetOutputIOState CameraSetTriggerMode CameraSetContrast; do
  objdump -T "$lib" | grep -Eq "\\(libQVCameraSDK\\)[[:space:]]+$f\$" || fail "$f not bound to libQVCameraSDK"
done

needed=$(readelf -d "$lib" | grep NEEDED)
echo "$needed" | grep -q '\[libQVCameraSDK.so\]' || fail "libQVCameraSDK.so is not needed"
runpath=$(readelf -d "$lib" | grep -E 'RUNPATH|RPATH' || true)
echo "$runpath" | grep -q 'RUNPATH.*\[\$ORIGIN\]$' || fail "run path: $runpath"
[ -e "$(dirname "$lib")/libQVCameraSDK.so" ] || fail "libQVCameraSDK.so is not beside it"
echo ok
