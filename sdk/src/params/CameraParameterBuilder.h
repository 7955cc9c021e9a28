// CameraParameterBuilder: parameter-group files of a camera controller.
//
// A file is the 1216-byte parameter record followed by up to three lookup tables of 4096
// little-endian u16 entries (the tables whose pointer is null are left out, so the ones given
// follow each other). Group files live in the configuration folder and are named
// <key>_Cfg<suffix>.bin: the key is the product name (parameter mode 0 and any unknown mode), the
// friendly name (1) or the serial number (2); the suffix is "_A" to "_D" for groups 0 to 3,
// "_SAVE" for group 255 (the file that remembers the group saved last) and "_A" for any other
// group.
//
// Files are replaced atomically: a save writes a temporary file beside the target, flushes it to
// disk and renames it over the target, so a failed save (no folder, short write, full disk)
// leaves the previous file as it was. A load parses into a copy and changes the caller's record
// and tables only when the whole file was accepted.
//
// The builder holds no state; its operations may run concurrently on different files.
#pragma once

#include <cstdint>
#include <string>

#include "params/CameraParameter.h"
#include "QVDeviceDef.h"

class CameraParameterBuilder {
  public:
    static constexpr uint32_t kMagic = 0xAB673EF1;
    static constexpr int32_t kFileVersion = 4;     // stamped by every save
    static constexpr int32_t kDefaultVersion = 3;  // what SetDefault leaves
    static constexpr int kTableEntries = 4096;     // one 12-bit lookup table
    static constexpr int kSaveGroup = 255;         // the "_SAVE" file (and "defaults" to loads)

    // The configuration folder "<HOME>/.QVConfig/" ("./.QVConfig/" when HOME is unset or
    // empty), created with mode 0755 when missing. out always receives the path. 0, or
    // CAMERA_STATUS_FAILED when the folder is missing and cannot be created (or the name
    // exists and is not a folder).
    static int MakeConfigFolder(std::string& out);

    // dir + "/" + key + "_Cfg" + suffix + ".bin" (no second slash when dir ends in one). Slashes
    // in the key become '_', so a device name cannot lead out of the folder.
    void MakeCfgFilePath(std::string& out, const char* dir, int mode, int group,
                         const tDevInfo* devInfo);

    // Writes a parameter file, after stamping the record with kMagic and kFileVersion.
    // 0; CAMERA_STATUS_PARAMETER_INVALID for a null path or record; CAMERA_STATUS_FAILED when
    // the file cannot be created or put in place; CAMERA_STATUS_FILE_IO_FAILED when writing or
    // flushing it fails. Failures log "CreateCfgFile err:%s\n" with the path.
    int CreateCfgFile(const char* path, CameraParameter* record, const uint16_t* table1,
                      const uint16_t* table2, const uint16_t* table3);
    // CreateCfgFile for a caller-named file.
    int SaveToFile(const char* path, CameraParameter* record, const uint16_t* table1,
                   const uint16_t* table2, const uint16_t* table3);
    // CreateCfgFile on the group file of (mode, group); -6 for a null dir or devInfo.
    int SaveGroup(const char* dir, CameraParameter* record, int mode, int group,
                  const tDevInfo* devInfo, const uint16_t* table1, const uint16_t* table2,
                  const uint16_t* table3);

    // Reads a parameter file of version 4, 3 (gains in 1/128 become hundredths) or 2, or the
    // legacy layout; then SetDefault's fields that the file does not carry, the tables the file
    // holds (whole entries; a table the file ends in is filled only as far as it goes; a null
    // table pointer skips its table) and the clamps. 0; CAMERA_STATUS_FILE_IO_FAILED when the
    // file cannot be opened ("GetCfgFile err:%s\n" logged); CAMERA_STATUS_FAILED for a null
    // record, a short or unreadable file, an unknown version or a legacy file without its
    // signature. On any failure record and tables are left unchanged.
    int GetCfgFile(const char* path, CameraParameter* record, uint16_t* table1, uint16_t* table2,
                   uint16_t* table3);
    // GetCfgFile for a caller-named file; -6 for a null path or record.
    int LoadFromFile(const char* path, CameraParameter* record, uint16_t* table1, uint16_t* table2,
                     uint16_t* table3);
    // GetCfgFile on the group file of (mode, group); -6 for a null dir or devInfo.
    int LoadGroup(const char* dir, int mode, int group, const tDevInfo* devInfo,
                  CameraParameter* record, uint16_t* table1, uint16_t* table2, uint16_t* table3);

    // Sets magic, version 3, trigger frame count 1 and delay 0, the two input and four output
    // lines, the GigE packet size 9000, delay 0, transfer mode 0, dead-pixel correction on, the
    // integer values and a valid light frequency; every other field is left as it is.
    void SetDefault(CameraParameter* record);
};
