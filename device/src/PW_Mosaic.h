// The foot accumulator: learns the empty plate, decides from the pixels that brightened whether
// a foot stands on it, and keeps the per-pixel maximum of the brightening while one does. A
// seconds counter driven by the process-wide SIGALRM interval timer limits one accumulation to
// about six seconds.
//
// MOSAIC_Init and MOSAIC_Close run in the thread that opens and closes the sole camera while the
// sole thread is not running; MOSAIC_DoMosaic runs only in the sole thread.
#pragma once

#include <atomic>

// 1 once initialised (a second call keeps the first size); -1 when the images cannot be
// allocated. Ends the process when the handler or the timer cannot be installed.
int MOSAIC_Init(int nWidth, int nHeight);
// 1: a foot is present and pOutBuf holds the impression; -2: the accumulation was reset after
// six counted seconds (pOutBuf black); 0: no foot; -1: not initialised, a NULL buffer, or a size
// other than the initialisation's (nothing is touched then).
int MOSAIC_DoMosaic(unsigned char* pInBuf, unsigned char* pOutBuf, int nWidth, int nHeight);
// 1, or -1 when not initialised. The handler and the timer stay installed.
int MOSAIC_Close();
// The SIGALRM handler: counts a second while a foot is present.
void timer_handler(int signum);

// Shared with the signal handler, so lock-free.
extern std::atomic<int> t_flag;
extern std::atomic<int> t_cnt;
static_assert(std::atomic<int>::is_always_lock_free);
