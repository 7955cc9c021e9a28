/* A C host of libTarnlex.so: the public header compiles as C, the library loads with the SDK
 * found beside it, and the calls that need no camera answer as documented (this machine has no
 * /dev/wcam1, so the station does not open). Prints "ok" and returns 0 when every check holds. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Tarnlex.h"

static int failures = 0;

static void Check(int ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "failed: %s\n", what);
        ++failures;
    }
}

int main(void) {
    static unsigned char sole[520 * 1200];
    static unsigned char mosaic[320 * 180 * 3];
    char dir[] = "/tmp/qv-tarnlex-host-XXXXXX";
    char out[64], soleName[] = "shoe.png", groupName[] = "view.png";
    char v1[] = "view1.png", v2[] = "view2.png", v3[] = "view3.png", v4[] = "view4.png";
    char* views[4] = {v1, v2, v3, v4};
    char path[96];
    FOOT_XD_INFO info;
    struct stat st;

    Check(Tarn_IsSupportCap() == 1, "Tarn_IsSupportCap");
    Check(Tarn_SetFootDirect(2) == -3, "Tarn_SetFootDirect(2)");
    Check(Tarn_SetFootDirect(1) == 1, "Tarn_SetFootDirect(1)");
    Check(Tarn_GetPreviewImage(NULL, mosaic) == -1, "Tarn_GetPreviewImage(NULL, ...)");
    Check(Tarn_GetPreviewImage(sole, mosaic) == 1, "Tarn_GetPreviewImage while closed");
    Check(Tarn_InitDevice() == -2, "Tarn_InitDevice without upper cameras");

    if (mkdtemp(dir) == NULL) return 2;
    snprintf(out, sizeof out, "%s/Output", dir);
    memset(&info, 0, sizeof info);
    Check(Tarn_SaveXDImageEX(out, soleName, views, groupName, NULL) == -6, "NULL info");
    Check(Tarn_SaveXDImageEX(out, soleName, views, groupName, &info) == 1, "save while closed");
    Check(info.footScore == -89 && info.footLong == -342 && info.footFrontWidth == -142 &&
              info.footBackWidth == -142,
          "measurements of the empty plate");
    snprintf(path, sizeof path, "%s/shoe.png", out);
    Check(stat(path, &st) == 0 && st.st_size > 0, "the sole image");
    snprintf(path, sizeof path, "%s/view1.png", out);
    Check(stat(path, &st) != 0, "no upper view before a shot");
    Check(Tarn_ReleaseDevice() == 1, "Tarn_ReleaseDevice");

    snprintf(path, sizeof path, "rm -rf '%s'", dir);
    if (system(path) != 0) return 2;
    if (failures == 0) puts("ok");
    return failures == 0 ? 0 : 1;
}
