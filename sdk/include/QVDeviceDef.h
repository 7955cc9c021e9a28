/*
 * QVDeviceDef.h - records, enumerations and constants of the QV camera SDK.
 *
 * Plain C: the same header serves C and C++ hosts. Every record below crosses the library
 * boundary by value or through caller memory, so its byte layout is part of the interface;
 * the layout checks at the end of the file pin the sizes and the offsets hosts rely on.
 */
#ifndef QV_DEVICE_DEF_H
#define QV_DEVICE_DEF_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Basic types --------------------------------------------------------------------------- */

typedef void* HANDLE;          /* camera handle: opaque pointer to the library's controller */
typedef unsigned char BYTE;    /* unsigned 8-bit */
typedef unsigned short USHORT; /* unsigned 16-bit */
typedef int INT;               /* signed 32-bit */
typedef unsigned int UINT;     /* unsigned 32-bit */

/* One raw frame of the frame pool, from CameraGetRawImageBuffer or CameraSnapToBuffer until
 * CameraReleaseFrameHandle. */
typedef void* CameraFrameHandle;

/* ---- Status codes ---------------------------------------------------------------------------- */

#define CAMERA_STATUS_SUCCESS 0
#define CAMERA_STATUS_FAILED (-1)
#define CAMERA_STATUS_NOT_SUPPORTED (-4)
#define CAMERA_STATUS_NOT_INITIALIZED (-5)
#define CAMERA_STATUS_PARAMETER_INVALID (-6)
#define CAMERA_STATUS_PARAMETER_OUT_OF_RANGE (-7)
#define CAMERA_STATUS_DATA_INVALID (-8)
#define CAMERA_STATUS_TIMEOUT (-12)
#define CAMERA_STATUS_IO_ERROR (-13)
#define CAMERA_STATUS_COMM_ERROR (-14)
#define CAMERA_STATUS_NO_DEVICE_FOUND (-16)
#define CAMERA_STATUS_DEVICE_IS_OPENED (-18)
#define CAMERA_STATUS_FILE_TOO_LARGE (-21)
#define CAMERA_STATUS_FILE_OPEN_FAILED (-22)
#define CAMERA_STATUS_FILE_IO_FAILED (-23)
#define CAMERA_STATUS_BUSY (-28)
#define CAMERA_STATUS_DEVICE_LOST (-38)
#define CAMERA_STATUS_PARAMETER_MISMATCH (-40)
#define CAMERA_STATUS_NOT_TRIGGERED (-50)
#define CAMERA_STATUS_EEPROM_NOT_WRITTEN (-51)
#define CAMERA_STATUS_DEVICE_OPEN_FAILED (-52)
#define CAMERA_STATUS_STREAM_OPEN_FAILED (-53)
#define CAMERA_STATUS_UPGRADE_READ_FAILED (-54)
#define CAMERA_STATUS_UPGRADE_WRITE_FAILED (-55)
#define CAMERA_STATUS_HARDWARE_NOT_FOUND (-56)
#define CAMERA_STATUS_NO_SENSOR (-57)
#define CAMERA_STATUS_PROPERTY_NOT_WRITTEN (-58)
#define CAMERA_STATUS_FPGA_ERROR (-59)

/* ---- Media types ----------------------------------------------------------------------------
 * Laid out like GigE Vision pixel-format codes: bits 24-31 are 0x01 for mono and raw Bayer
 * formats and 0x02 for colour, bits 16-23 the bits per pixel, bits 0-15 number the format. */

#define CAMERA_MEDIA_TYPE_MONO_FLAG 0x01000000u
#define CAMERA_MEDIA_TYPE_COLOR_FLAG 0x02000000u
#define CAMERA_MEDIA_TYPE_PIXEL_SIZE_MASK 0x00FF0000u
#define CAMERA_MEDIA_TYPE_PIXEL_SIZE_SHIFT 16
#define CAMERA_MEDIA_TYPE_ID_MASK 0x0000FFFFu
#define CAMERA_MEDIA_TYPE_BITS(type) \
    (((type) & CAMERA_MEDIA_TYPE_PIXEL_SIZE_MASK) >> CAMERA_MEDIA_TYPE_PIXEL_SIZE_SHIFT)

/* Output formats of the image pipeline. Selecting CAMERA_MEDIA_TYPE_MONO stores and reports
 * CAMERA_MEDIA_TYPE_MONO8. */
#define CAMERA_MEDIA_TYPE_MONO 0x01000000u
#define CAMERA_MEDIA_TYPE_RGB8 0x02180014u
#define CAMERA_MEDIA_TYPE_BGR8 0x02180015u
#define CAMERA_MEDIA_TYPE_RGBA8 0x02200014u
#define CAMERA_MEDIA_TYPE_BGRA8 0x02200015u

/* Raw mono formats: 8-bit, and 12-bit carried in 16 bits. */
#define CAMERA_MEDIA_TYPE_MONO8 0x01080000u
#define CAMERA_MEDIA_TYPE_MONO12_16 0x01100005u

/* ---- Enumerations ---------------------------------------------------------------------------- */

typedef enum {
    TRIGGER_MODE_CONTINUOUS = 0,
    TRIGGER_MODE_SOFTWARE = 1,
    TRIGGER_MODE_HARDWARE = 2
} emSdkTriggerMode;

typedef enum {
    IOMODE_STROBE_OUTPUT = 0, /* the line follows the strobe settings */
    IOMODE_GP_OUTPUT = 1,     /* level set by CameraSetOutputIOState */
    IOMODE_PWM_OUTPUT = 2     /* pulse-width modulation set by CameraSetOutputIOPWM */
} emSdkOutputIOMode;

/* ---- Records ----------------------------------------------------------------------------------- */

/* Frame descriptor, travels with every frame (40 bytes). */
typedef struct {
    UINT iWidth;
    UINT iHeight;
    UINT TotalBytes;
    UINT uiMediaType;
    double ExpTime;     /* microseconds */
    double ExpLineTime; /* microseconds */
    UINT Gain;          /* analog gain, 1000 = unity */
    BYTE _pad0[4];
} stImageInfo;

/* Device information of one enumerated camera (600 bytes). */
typedef struct {
    char acProductSeries[32];
    char acProductName[32];
    char acFriendlyName[64];
    char acDriverName[128];
    char acDriverVersion[32];
    char acSensorName[32];
    char acPortType[32];
    INT iAccess;
    char acSn[32];
    USHORT uSignature;       /* 0x1216 for USB cameras */
    USHORT uDeviceType;      /* 0x1301 / 0x1201 (USB), first firmware word (GigE) */
    USHORT uFirmwareVersion; /* four 4-bit fields */
    BYTE _pad0[2];
    UINT uDeviceId;
    char acSymbolicName[128];
    BYTE abReserved[64];
    UINT uSensorType;
    UINT uInUse; /* 1 when another user holds the device */
} tDevInfo;

/* One entry of a text list of the capability (36 bytes). */
typedef struct {
    INT iIndex;
    char acDescription[32];
} tSdkDescription;

/* One media type with its name (40 bytes). */
typedef struct {
    INT iIndex;
    char acDescription[32];
    UINT uMediaType;
} tSdkBayerType;

/* One resolution, a preset or a custom region (92 bytes). */
typedef struct {
    INT iIndex; /* preset 0..63; 255 = custom region */
    char acDescription[32];
    UINT uModeA; /* binning reduction, mask at capability offset 372 */
    UINT uModeB; /* binning reduction, mask at capability offset 376 */
    UINT uModeC; /* skipping reduction, mask at capability offset 368 */
    UINT uReserved1;
    INT iOffsetX;
    INT iOffsetY;
    INT iSensorWidth;
    INT iSensorHeight;
    UINT uWidth;
    UINT uHeight;
    UINT auReserved[2];
    UINT uResizeWidth; /* software resize of raw frames; 0 = none */
    UINT uResizeHeight;
} tSdkResolution;

/* Capability of an opened camera (480 bytes). The list pointers point into controller-owned
 * arrays that stay valid until CameraUnInit; an empty list has count 0 and a null pointer. */
typedef struct {
    INT aiGainRange[6]; /* red min, max; green min, max; blue min, max */
    INT aiSaturationRange[2];
    INT aiGammaRange[2];
    INT aiContrastLutRange[2];
    INT aiContrastRange[2];
    INT aiSharpnessRange[2];
    BYTE abPropertyFlags[48]; /* device property bytes 56..103: mono flag first */
    BYTE abPropertyExtra[8];  /* device property bytes 104..111 */
    tSdkDescription* pTriggerDesc;
    INT iTriggerDesc;
    BYTE _pad0[4];
    tSdkResolution* pImageSizeDesc;
    INT iImageSizeDesc;
    BYTE _reserved0[20];
    tSdkBayerType* pMediaTypeDesc;
    INT iMediaTypeDesc;
    BYTE _pad1[4];
    tSdkBayerType* pOutputFormatDesc;
    INT iOutputFormatDesc;
    BYTE _pad2[4];
    tSdkDescription* pFrameSpeedDesc;
    INT iFrameSpeedDesc;
    BYTE _reserved1[16];
    UINT uOutputIoCount;
    UINT uInputIoCount;
    BYTE _reserved2[4];
    tSdkDescription* pAuxDesc;
    INT iAuxDesc;
    UINT uUserDataSize;
    UINT uPropertyWord188;
    BYTE _reserved3[36];
    tSdkDescription* pBayerAlgDesc;
    INT iBayerAlgDesc;
    BYTE _reserved4[20];
    /* First 14 words of the sensor parameters: AE target min/max, analog gain min/max,
     * exposure lines min/max, window height max/min, window width max/min, then the
     * reduction-mode masks for uModeC (offset 368), uModeA (372), uModeB (376), one more. */
    UINT auSensorParam[14];
    tSdkResolution sResolutionDefault;
    BYTE _reserved5[4];
} tSdkCapability;

/* Frame statistics of the frame pool (12 bytes). */
typedef struct {
    UINT uTotalFrames; /* good plus lost */
    UINT uGoodFrames;
    INT iLostFrames;
} tSdkFrameStatistic;

/* Device information of an opened camera with its current settings (840 bytes). The settings
 * are the 240-byte settings block of the parameter record. */
typedef struct {
    tDevInfo sDevInfo; /* uInUse is 1 */
    BYTE abCurSettings[240];
} CameraCurDevInfo;

/* IP configuration of a GigE camera (172 bytes). */
typedef struct {
    char acAdapterName[64];
    char acAdapterIp[16];
    char acAdapterMask[16];
    char acAdapterGateway[16];
    UINT uPersistent; /* 1 keeps the address across restarts */
    char acIp[16];
    char acMask[16];
    char acGateway[16];
    BYTE abMac[6];
    BYTE _pad0[2];
} tGigeIpConfig;

/* Lens-shading calibration request of CameraLscCalib (72 bytes). The image is a monochrome
 * frame of a flat, evenly lit field; the table receives one gain per node of an m x n grid. */
typedef struct {
    UINT uWidth;     /* samples */
    UINT uHeight;    /* rows */
    UINT uMediaType; /* 8-bit mono: one byte per sample; otherwise 16 bits per sample */
    BYTE _pad0[4];
    void* pImage;
    UINT uImageSize; /* samples in pImage; at least uWidth x uHeight */
    BYTE _pad1[4];
    BYTE* pTable;        /* receives the lens-shading table */
    UINT uTableCapacity; /* bytes */
    UINT uTableSize;     /* bytes, written on success */
    UINT uGridColumns;   /* m, at least 2 */
    UINT uGridRows;      /* n, at least 2 */
    UINT uWindowSize;    /* side of the square averaged at each node: 0 counts as 1, above 5 as 5 */
    UINT uRefMode;       /* 0 the centre sample, 1 the brightest cell, 2 usRefValue */
    USHORT usRefValue;   /* 8-bit images use its low byte */
    BYTE _pad2[6];
} tSdkLscCalibParam;

/* Lens-shading correction request of CameraLscCorrect (64 bytes). */
typedef struct {
    UINT uWidth;
    UINT uHeight;
    UINT uMediaType;
    BYTE _pad0[4];
    void* pInput;
    UINT uInputSize; /* samples; at least uWidth x uHeight */
    BYTE _pad1[4];
    void* pOutput;        /* uWidth x uHeight samples of the input's depth; may equal pInput */
    UINT uOutputCapacity; /* samples; at least uWidth x uHeight */
    UINT uOutputSize;     /* set to uInputSize on success */
    BYTE* pTable;         /* a table written by CameraLscCalib */
    UINT uTableSize;      /* bytes */
    BYTE _pad2[4];
} tSdkLscCorrectParam;

/* ---- Callbacks ------------------------------------------------------------------------------- */

/* Raw frame, on the controller's capture thread. */
typedef void (*CameraFrameCallback)(HANDLE hCamera, BYTE* pFrameBuffer, stImageInfo* pFrameInfo,
                                    void* pContext);
/* Display frame. */
typedef void (*CameraDisplayCallback)(HANDLE hCamera, BYTE* pImage, stImageInfo* pInfo,
                                      void* pContext, int iStride);
/* Upgrade progress: 0 at the start, 1..99 while writing, 100 at the end. */
typedef void (*CameraUpgradeProgressCallback)(int iPercent, void* pContext);
/* Connection status: 0 lost, 1 back. */
typedef void (*CameraConnectionStatusCallback)(HANDLE hCamera, int iStatus, void* pContext);

/* ---- Layout checks ----------------------------------------------------------------------------- */

#ifdef __cplusplus
#define QV_LAYOUT_CHECK(cond, msg) static_assert(cond, msg)
#else
#define QV_LAYOUT_CHECK(cond, msg) _Static_assert(cond, msg)
#endif

QV_LAYOUT_CHECK(sizeof(stImageInfo) == 40, "stImageInfo is 40 bytes");
QV_LAYOUT_CHECK(offsetof(stImageInfo, ExpTime) == 16, "stImageInfo.ExpTime at 16");
QV_LAYOUT_CHECK(offsetof(stImageInfo, Gain) == 32, "stImageInfo.Gain at 32");

QV_LAYOUT_CHECK(sizeof(tDevInfo) == 600, "tDevInfo is 600 bytes");
QV_LAYOUT_CHECK(offsetof(tDevInfo, acFriendlyName) == 64, "tDevInfo.acFriendlyName at 64");
QV_LAYOUT_CHECK(offsetof(tDevInfo, acDriverName) == 128, "tDevInfo.acDriverName at 128");
QV_LAYOUT_CHECK(offsetof(tDevInfo, acDriverVersion) == 256, "tDevInfo.acDriverVersion at 256");
QV_LAYOUT_CHECK(offsetof(tDevInfo, acSensorName) == 288, "tDevInfo.acSensorName at 288");
QV_LAYOUT_CHECK(offsetof(tDevInfo, acPortType) == 320, "tDevInfo.acPortType at 320");
QV_LAYOUT_CHECK(offsetof(tDevInfo, iAccess) == 352, "tDevInfo.iAccess at 352");
QV_LAYOUT_CHECK(offsetof(tDevInfo, acSn) == 356, "tDevInfo.acSn at 356");
QV_LAYOUT_CHECK(offsetof(tDevInfo, uSignature) == 388, "tDevInfo.uSignature at 388");
QV_LAYOUT_CHECK(offsetof(tDevInfo, uDeviceType) == 390, "tDevInfo.uDeviceType at 390");
QV_LAYOUT_CHECK(offsetof(tDevInfo, uFirmwareVersion) == 392, "tDevInfo.uFirmwareVersion at 392");
QV_LAYOUT_CHECK(offsetof(tDevInfo, uDeviceId) == 396, "tDevInfo.uDeviceId at 396");
QV_LAYOUT_CHECK(offsetof(tDevInfo, acSymbolicName) == 400, "tDevInfo.acSymbolicName at 400");
QV_LAYOUT_CHECK(offsetof(tDevInfo, uSensorType) == 592, "tDevInfo.uSensorType at 592");
QV_LAYOUT_CHECK(offsetof(tDevInfo, uInUse) == 596, "tDevInfo.uInUse at 596");

QV_LAYOUT_CHECK(sizeof(tSdkDescription) == 36, "tSdkDescription is 36 bytes");
QV_LAYOUT_CHECK(sizeof(tSdkBayerType) == 40, "tSdkBayerType is 40 bytes");
QV_LAYOUT_CHECK(offsetof(tSdkBayerType, uMediaType) == 36, "tSdkBayerType.uMediaType at 36");

QV_LAYOUT_CHECK(sizeof(tSdkResolution) == 92, "tSdkResolution is 92 bytes");
QV_LAYOUT_CHECK(offsetof(tSdkResolution, uModeA) == 36, "tSdkResolution.uModeA at 36");
QV_LAYOUT_CHECK(offsetof(tSdkResolution, iOffsetX) == 52, "tSdkResolution.iOffsetX at 52");
QV_LAYOUT_CHECK(offsetof(tSdkResolution, uWidth) == 68, "tSdkResolution.uWidth at 68");
QV_LAYOUT_CHECK(offsetof(tSdkResolution, uResizeWidth) == 84, "tSdkResolution.uResizeWidth at 84");
QV_LAYOUT_CHECK(offsetof(tSdkResolution, uResizeHeight) == 88,
                "tSdkResolution.uResizeHeight at 88");

QV_LAYOUT_CHECK(sizeof(tSdkCapability) == 480, "tSdkCapability is 480 bytes");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, aiSaturationRange) == 24, "capability saturation at 24");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, aiContrastLutRange) == 40, "capability LUT contrast 40");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, aiSharpnessRange) == 56, "capability sharpness at 56");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, abPropertyFlags) == 64, "capability flags at 64");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, abPropertyExtra) == 112, "capability extra at 112");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, pTriggerDesc) == 120, "capability trigger list 120");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, iTriggerDesc) == 128, "capability trigger count 128");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, pImageSizeDesc) == 136, "capability presets at 136");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, iImageSizeDesc) == 144, "capability preset count 144");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, pMediaTypeDesc) == 168, "capability media types 168");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, iMediaTypeDesc) == 176, "capability media count 176");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, pOutputFormatDesc) == 184, "capability outputs at 184");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, iOutputFormatDesc) == 192, "capability out count 192");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, pFrameSpeedDesc) == 200, "capability speeds at 200");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, iFrameSpeedDesc) == 208, "capability speed count 208");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, uOutputIoCount) == 228, "capability outputs n at 228");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, uInputIoCount) == 232, "capability inputs n at 232");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, pAuxDesc) == 240, "capability aux list at 240");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, iAuxDesc) == 248, "capability aux count at 248");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, uUserDataSize) == 252, "capability user data at 252");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, uPropertyWord188) == 256, "capability word at 256");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, pBayerAlgDesc) == 296, "capability demosaic at 296");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, iBayerAlgDesc) == 304, "capability demosaic n at 304");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, auSensorParam) == 328, "capability sensor at 328");
QV_LAYOUT_CHECK(offsetof(tSdkCapability, sResolutionDefault) == 384, "capability default 384");

QV_LAYOUT_CHECK(sizeof(tSdkFrameStatistic) == 12, "tSdkFrameStatistic is 12 bytes");
QV_LAYOUT_CHECK(sizeof(CameraCurDevInfo) == 840, "CameraCurDevInfo is 840 bytes");
QV_LAYOUT_CHECK(offsetof(CameraCurDevInfo, abCurSettings) == 600, "settings block at 600");

QV_LAYOUT_CHECK(sizeof(tGigeIpConfig) == 172, "tGigeIpConfig is 172 bytes");
QV_LAYOUT_CHECK(offsetof(tGigeIpConfig, uPersistent) == 112, "tGigeIpConfig.uPersistent at 112");
QV_LAYOUT_CHECK(offsetof(tGigeIpConfig, acIp) == 116, "tGigeIpConfig.acIp at 116");
QV_LAYOUT_CHECK(offsetof(tGigeIpConfig, abMac) == 164, "tGigeIpConfig.abMac at 164");

QV_LAYOUT_CHECK(sizeof(tSdkLscCalibParam) == 72, "tSdkLscCalibParam is 72 bytes");
QV_LAYOUT_CHECK(offsetof(tSdkLscCalibParam, pImage) == 16, "tSdkLscCalibParam.pImage at 16");
QV_LAYOUT_CHECK(offsetof(tSdkLscCalibParam, pTable) == 32, "tSdkLscCalibParam.pTable at 32");
QV_LAYOUT_CHECK(offsetof(tSdkLscCalibParam, usRefValue) == 64,
                "tSdkLscCalibParam.usRefValue at 64");
QV_LAYOUT_CHECK(sizeof(tSdkLscCorrectParam) == 64, "tSdkLscCorrectParam is 64 bytes");
QV_LAYOUT_CHECK(offsetof(tSdkLscCorrectParam, pOutput) == 32, "tSdkLscCorrectParam.pOutput at 32");
QV_LAYOUT_CHECK(offsetof(tSdkLscCorrectParam, pTable) == 48, "tSdkLscCorrectParam.pTable at 48");

#undef QV_LAYOUT_CHECK

#ifdef __cplusplus
}
#endif

#endif /* QV_DEVICE_DEF_H */
