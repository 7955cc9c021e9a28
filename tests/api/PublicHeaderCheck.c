/* The public headers must compile as plain C and the exports must link from C. */
#include "QVCameraApi.h"
#include "QVDeviceDef.h"

int qv_c_version_call(char* buffer) { return CameraSdkGetVersionString(buffer); }

unsigned qv_c_record_sizes(void) {
    return (unsigned)(sizeof(stImageInfo) + sizeof(tDevInfo) + sizeof(tSdkCapability) +
                      sizeof(tSdkResolution) + sizeof(tGigeIpConfig) + sizeof(CameraCurDevInfo));
}
