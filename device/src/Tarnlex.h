/*
 * Tarnlex.h - the footprint station's device library (libTarnlex.so).
 *
 * One station per process, driven through six functions: open it, fetch the previews while it
 * runs, save the images with the four measurements, release it. Every function returns 1 on
 * success and a negative code on failure (Tarn_GetPreviewImage returns 2 when it also copied a
 * new upper mosaic).
 *
 * The library leaves the host's signals and timers alone. A host may unload it (dlclose) after
 * Tarn_ReleaseDevice, and may exit, or unload it, without the release: the station is released
 * then (threads stopped, cameras closed, the plate light off).
 *
 * The station belongs to the process that first opened it (or tried to). A child that process
 * forks may exit as it likes, and the station runs on in the parent; in the child the functions
 * leave the parent's threads and cameras alone: Tarn_InitDevice returns -1, Tarn_ReleaseDevice 1,
 * Tarn_GetPreviewImage -1 and Tarn_SaveXDImageEX -8, none of them doing anything.
 */
#ifndef TARNLEX_H
#define TARNLEX_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define TARN_API __attribute__((visibility("default")))
#else
#define TARN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The measurements of a saved sole image. Without an impression (nothing brighter than the
 * empty plate) they come out as -89, -342, -142 and -142. */
typedef struct FOOT_XD_INFO_ {
    int32_t footScore;      /* 0 to 100 for a real impression */
    int32_t footLong;       /* foot length, millimetres */
    int32_t footFrontWidth; /* the wider of the forefoot and heel widths, millimetres */
    int32_t footBackWidth;  /* the narrower one, millimetres */
} FOOT_XD_INFO;

#ifdef __cplusplus
#define TARN_STATIC_ASSERT(cond, text) static_assert(cond, text)
#else
#define TARN_STATIC_ASSERT(cond, text) _Static_assert(cond, text)
#endif
TARN_STATIC_ASSERT(sizeof(FOOT_XD_INFO) == 16, "FOOT_XD_INFO is four 32-bit fields");
TARN_STATIC_ASSERT(offsetof(FOOT_XD_INFO, footScore) == 0, "footScore first");
TARN_STATIC_ASSERT(offsetof(FOOT_XD_INFO, footLong) == 4, "footLong second");
TARN_STATIC_ASSERT(offsetof(FOOT_XD_INFO, footFrontWidth) == 8, "footFrontWidth third");
TARN_STATIC_ASSERT(offsetof(FOOT_XD_INFO, footBackWidth) == 12, "footBackWidth fourth");

/* Opens the four upper cameras (/dev/wcam1 to /dev/wcam4) and the sole camera and starts their
 * threads. 1; 1 at once while already running. -2 an upper camera did not open, -5 the upper
 * capture threads did not start, -1 the sole camera did not open, -4 the sole thread did not
 * start; everything opened is closed again then. */
TARN_API int Tarn_InitDevice(void);
/* Stops the threads and closes the cameras; 1. */
TARN_API int Tarn_ReleaseDevice(void);
/* The side of the saved sole image's ruler: 0 right of the impression, 1 left; 1, or -3 (side
 * unchanged) for any other value. */
TARN_API int Tarn_SetFootDirect(int FootDirect);
/* Writes the sole image as ImgOutDir/XDImageName and, once a contact shot has frozen all four
 * upper views, the views as ImgOutDir/XMImageName[0..3] and the group image as
 * ImgOutDir/XMGroupImageName (formats by extension), and fills *pInfo. The folder is created
 * when missing (its parent must exist). 1; -6 a NULL argument or a path longer than 259
 * characters (nothing written); -7 the folder cannot be created or is not a directory; -8 a file
 * could not be written (the measurements are filled all the same). Works while closed too: the
 * sole image is then the one published last. */
TARN_API int Tarn_SaveXDImageEX(char* ImgOutDir, char* XDImageName, char** XMImageName,
                                char* XMGroupImageName, FOOT_XD_INFO* pInfo);
/* Copies the sole preview (520x1200 grey, 624000 bytes) to pRawData and, when a new one was
 * composed since the last call, the upper mosaic (320x180, blue-green-red, 172800 bytes) to
 * pRawShot. 2 when the mosaic was copied, 1 when not, -1 (nothing copied) for a NULL pointer. */
TARN_API int Tarn_GetPreviewImage(unsigned char* pRawData, unsigned char* pRawShot);
/* 1. */
TARN_API int Tarn_IsSupportCap(void);

#ifdef __cplusplus
}
#endif

#endif /* TARNLEX_H */
