// The FPGA configuration images built into the SDK: one line per zlib stream. Both the SDK and
// the build-time image tool include this list, so the file names, the image order in the
// embedded table and the selection code cannot drift apart.
//
// X(id, file, kind, hardware type, sensor types)
//   id            enumerator of FpgaImageId
//   file          the image's file name without ".zlib" (also the name a maker's image folder
//                 must use)
//   kind          Prog: loaded through the PROG/INIT/DONE pins and the configuration port;
//                 Flash: written to the camera's flash after configuration (hardware type 7);
//                 Jtag: loaded through the instruction port (hardware type 108)
//   hardware type the type the image is for
//   sensor types  the sensor type codes sharing the image, as text ("" for one image per type,
//                 "other" for a type's default image)
#pragma once

// clang-format off
#define QV_FPGA_IMAGE_LIST(X)                                               \
    X(kHw100S22To23,  "hw100-s22-23",        Prog,  100, "22-23")          \
    X(kHw100S24To27,  "hw100-s24-27",        Prog,  100, "24-27")          \
    X(kHw100S28To29,  "hw100-s28-29",        Prog,  100, "28-29")          \
    X(kHw100S30To31,  "hw100-s30-31",        Prog,  100, "30-31")          \
    X(kHw100S32To35,  "hw100-s32-35",        Prog,  100, "32-35")          \
    X(kHw100S46To47,  "hw100-s46-47",        Prog,  100, "46-47")          \
    X(kHw100S57,      "hw100-s57",           Prog,  100, "57")             \
    X(kHw100S58,      "hw100-s58",           Prog,  100, "58")             \
    X(kHw100Other,    "hw100-other",         Prog,  100, "other")          \
    X(kHw102,         "hw102",               Prog,  102, "")               \
    X(kHw103,         "hw103",               Prog,  103, "")               \
    X(kHw104,         "hw104",               Prog,  104, "")               \
    X(kHw105,         "hw105",               Prog,  105, "")               \
    X(kHw106S14And37, "hw106-s14-37",        Prog,  106, "14,37")          \
    X(kHw106S40To41,  "hw106-s40-41",        Prog,  106, "40-41")          \
    X(kHw106S53To54,  "hw106-s53-54",        Prog,  106, "53-54")          \
    X(kHw106S55To56,  "hw106-s55-56",        Prog,  106, "55-56")          \
    X(kHw106Other,    "hw106-other",         Prog,  106, "other")          \
    X(kHw107S38,      "hw107-s38",           Prog,  107, "38")             \
    X(kHw107S39,      "hw107-s39",           Prog,  107, "39")             \
    X(kHw110S8To9,    "hw110-s8-9",          Prog,  110, "8-9")            \
    X(kHw110S17And21, "hw110-s17-21",        Prog,  110, "17,21")          \
    X(kHw110S19To20,  "hw110-s19-20",        Prog,  110, "19-20")          \
    X(kHw110S22To23,  "hw110-s22-23",        Prog,  110, "22-23")          \
    X(kHw110S30To31,  "hw110-s30-31",        Prog,  110, "30-31")          \
    X(kHw110S32To35,  "hw110-s32-35",        Prog,  110, "32-35")          \
    X(kHw110S40To69,  "hw110-s40-41-68-69",  Prog,  110, "40,41,68,69")    \
    X(kHw110S46To47,  "hw110-s46-47",        Prog,  110, "46-47")          \
    X(kHw110S53To54,  "hw110-s53-54",        Prog,  110, "53-54")          \
    X(kHw110S57And59, "hw110-s57-59",        Prog,  110, "57,59")          \
    X(kHw110S58,      "hw110-s58",           Prog,  110, "58")             \
    X(kHw110S67,      "hw110-s67",           Prog,  110, "67")             \
    X(kHw110S71To72,  "hw110-s71-72",        Prog,  110, "71-72")          \
    X(kHw111S57And59, "hw111-s57-59",        Prog,  111, "57,59")          \
    X(kHw111S73,      "hw111-s73",           Prog,  111, "73")             \
    X(kHw3,           "hw3",                 Prog,  3,   "")               \
    X(kHw4,           "hw4",                 Prog,  4,   "")               \
    X(kHw5,           "hw5",                 Prog,  5,   "")               \
    X(kHw6,           "hw6",                 Prog,  6,   "")               \
    X(kHw7,           "hw7",                 Prog,  7,   "")               \
    X(kCommon,        "common",              Prog,  0,   "")               \
    X(kHw7Flash,      "hw7-flash",           Flash, 7,   "")               \
    X(kJtag108S8To9,  "jtag-hw108-s8-9",     Jtag,  108, "8-9")            \
    X(kJtag108S14And37, "jtag-hw108-s14-37", Jtag,  108, "14,37")          \
    X(kJtag8,         "jtag-hw8",            Jtag,  8,   "")               \
    X(kJtag9,         "jtag-hw9",            Jtag,  9,   "")
// clang-format on
