// The foot accumulator: learns the empty plate, decides from the pixels that brightened whether
// a foot stands on it, and keeps the per-pixel maximum of the brightening while one does. One
// accumulation lasts at most six seconds of one foot, counted on a steady clock in the sole
// thread: the station installs no signal handler and arms no timer of the process, which belong
// to the host.
//
// MOSAIC_Init and MOSAIC_Close run in the thread that opens and closes the sole camera while the
// sole thread is not running; MOSAIC_DoMosaic runs only in the sole thread.
#pragma once

#include <chrono>

// 1 once initialised (a second call keeps the first size); -1 when the images cannot be
// allocated.
int MOSAIC_Init(int nWidth, int nHeight);
// 1: a foot is present and pOutBuf holds the impression; -2: the accumulation was reset after
// six counted seconds (pOutBuf black); 0: no foot; -1: not initialised, a NULL buffer, or a size
// other than the initialisation's (nothing is touched then).
int MOSAIC_DoMosaic(unsigned char* pInBuf, unsigned char* pOutBuf, int nWidth, int nHeight);
// 1, or -1 when not initialised.
int MOSAIC_Close();

// Test seam: the clock the seconds of one foot are read from; nullptr puts the steady clock back.
using MosaicClock = std::chrono::steady_clock::time_point (*)();
void MOSAIC_SetClock(MosaicClock clock);
