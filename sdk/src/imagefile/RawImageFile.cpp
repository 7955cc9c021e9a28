#include "imagefile/RawImageFile.h"

#include "imagefile/AtomicFile.h"

int SaveRawImage(const BYTE* image, const char* fileName, uint32_t byteCount) {
    if (image == nullptr || fileName == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    qv::imagefile::CAtomicFile file;
    if (!file.Create(fileName)) return CAMERA_STATUS_FAILED;
    if (!file.Write(image, byteCount) || !file.Commit()) return CAMERA_STATUS_IO_ERROR;
    return CAMERA_STATUS_SUCCESS;
}
