#include <gtest/gtest.h>

#include <cstring>

#include "QVCameraApi.h"

extern "C" int qv_c_version_call(char* buffer);
extern "C" unsigned qv_c_record_sizes(void);

namespace {

TEST(PublicHeader, CAndCxxAgreeOnRecordSizes) {
    EXPECT_EQ(qv_c_record_sizes(), sizeof(stImageInfo) + sizeof(tDevInfo) + sizeof(tSdkCapability) +
                                       sizeof(tSdkResolution) + sizeof(tGigeIpConfig) +
                                       sizeof(CameraCurDevInfo));
    EXPECT_EQ(qv_c_record_sizes(), 40u + 600u + 480u + 92u + 172u + 840u);
}

TEST(VersionString, WritesTextAndZeroFillButNotTheLastByte) {
    unsigned char buffer[32];
    std::memset(buffer, 0xFF, sizeof buffer);
    EXPECT_EQ(qv_c_version_call(reinterpret_cast<char*>(buffer)), CAMERA_STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(buffer, "V1.32.0.0", 9), 0);
    for (int i = 9; i <= 30; ++i) EXPECT_EQ(buffer[i], 0) << "byte " << i;
    EXPECT_EQ(buffer[31], 0xFF);
}

TEST(VersionString, NullBufferSucceeds) { EXPECT_EQ(CameraSdkGetVersionString(nullptr), 0); }

}  // namespace
