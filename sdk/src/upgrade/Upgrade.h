// CUpgrade: reads and checks an upgrade file (UpgradeFile.h) and runs the update flow that every
// camera family shares; the subclasses write the elements into the camera: CUpgradeU3Camera
// and CUpgradeU2Camera (USB), CUpgradeGigeCamera and its two flash-map variants (GigE).
//
// The flow never leaves a half-written camera because of a bad file: it reads the whole file
// and checks every element (magic, length within the file, the element count, each element
// within the region it is written to, all elements to write within what the camera holds)
// before it erases or writes anything. Then it writes the elements in file order, from the
// bytes it checked: the file is not read again once the writes begin, so a file that changes
// on disk while the camera is written changes nothing that was not checked. What it holds for
// that is the bytes of the elements the camera takes, in one buffer no larger than what the
// camera holds (MaxWrittenBytes), and a record of a few bytes per run of such elements of one
// type and length (m_records: 4 bytes while its numbers stay below 128, a byte more per 7 bits
// of a larger one; at most one run per element written). Elements that write nothing (a type the
// camera does not know or does not take, or no bytes) are passed over by their length, their bytes
// never read: they count towards the progress only.
//   -22  the file cannot be opened
//   -23  its header cannot be read
//   -4   wrong magic, or a file for another camera (device ID, sensor and board)
//   -54  an element cannot be read (truncated or damaged file)
//   -55  an element cannot be written (too large for its region, the elements to write
//        together larger than the camera holds, or the camera refused it)
// Progress goes to the caller's callback: 0 at the start, 1..99 while writing (only on
// change), 100 at the end; a refused file reports nothing. An element of a type the camera does
// not know is logged ("flash type %u\n") as the check passes over it.
//
// An upgrade object is made for one call on the stack of the device's Upgrade; it has no lock
// of its own and runs under the attachment mutex of its caller. The file is closed on every
// return path, and at the latest by the destructor.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <list>
#include <memory>
#include <vector>

#include "QVDeviceDef.h"
#include "upgrade/UpgradeFile.h"

class CJNDevice;

class CUpgrade {
  public:
    using ProgressCallback = void (*)(int percent, void* context);
    // What a writer reports after each piece: bytes written, or the percentage of its element
    // done (by the element type, see ElementKind).
    using ElementProgress = std::function<void(unsigned)>;

    explicit CUpgrade(CJNDevice* device);
    virtual ~CUpgrade();
    CUpgrade(const CUpgrade&) = delete;
    CUpgrade& operator=(const CUpgrade&) = delete;

    // Runs the update flow with this family's writers; 0 or a status above.
    virtual int Upgrade(const char* path, ProgressCallback progress, void* context) = 0;

    // Opens the file ("rb") and reads its header: -1 when it cannot be opened (or is no regular
    // file), -2 for a short header, -3 for a wrong magic (the file is closed again for both);
    // 0 leaves it open after the header. Both pointers are required.
    int OpenUpgradeFile(const char* path, UpgradeFileHeader* header);
    // The same on bytes in memory, which the caller keeps until the file is closed.
    int OpenUpgradeBuffer(const uint8_t* bytes, size_t size, UpgradeFileHeader* header);
    int CloseUpgradeFile();  // 0
    // The support list after the header into list (cleared first): -1 when the file does not
    // hold header->supportCount entries, else 0.
    int ReadSupportCameraList(UpgradeFileHeader* header, std::list<Tag_UpgradeCameraInfo>& list);
    // The next element: its header, and its data unmasked in a new buffer the caller releases
    // with FreeReadDataBuffer (null for an empty element). The length (0 for an empty element),
    // or -1 when no whole element follows: no open file, a short or foreign header, or a length
    // beyond the end of the file (compared before anything is allocated).
    int ReadUpgradeFile(UpgradeElmentHeader* header, BYTE** data);
    void FreeReadDataBuffer(BYTE* data);
    // Whether the file is for this camera: its device ID, and its stored sensor type and board
    // code in the support list.
    bool IsSupported(UpgradeFileHeader* header);
    // Reads every element the header counts and checks it for this family, leaving the file
    // after the last one: 0, -54 when an element cannot be read, -55 when one does not fit or
    // the elements to write add up to more than MaxWrittenBytes. The element headers are read
    // first, alone: a file with more to write than that is refused before any element's bytes
    // are read. Keeps the bytes of the elements to write; the bytes of the others are never
    // read.
    int CheckElements(const UpgradeFileHeader& header);

  protected:
    enum class ElementKind {
        kUnknown,  // skipped with "flash type %u\n"
        kBytes,    // the writer reports the bytes of each piece
        kPercent,  // the writer reports the percentage of its element done
    };
    virtual ElementKind KindOf(uint32_t type) const = 0;
    // Whether an element of a known type puts its bytes into the camera. One that does not is
    // checked with null data and not written, its bytes never read.
    virtual bool TakesBytes(uint32_t type) const {
        (void)type;
        return true;
    }
    // The most bytes the elements of one file may put into the camera together (its flash,
    // or what the family's writers can take): a bound on what the flow holds in memory.
    virtual uint64_t MaxWrittenBytes() const = 0;
    // Whether an element of a known type can be written: 0, or negative when it does not fit
    // its region or cannot be written at all. Runs before anything is erased.
    virtual int CheckElement(uint32_t type, uint32_t length, const BYTE* data) = 0;
    // Writes one element of a known type: 0 or negative.
    virtual int WriteElement(uint32_t type, uint32_t length, BYTE* data,
                             const ElementProgress& progress) = 0;

    // The update flow, with KindOf, CheckElement and WriteElement of the subclass.
    int RunUpgrade(const char* path, ProgressCallback progress, void* context);

    // Whether length bytes written at start stay inside a region of regionSize bytes there and
    // clear of the camera's stored identity, user data and bad-pixel table (on cameras whose
    // storage is flash). Logs the refusal.
    bool FitsRegion(uint32_t type, uint32_t start, uint64_t regionSize, uint32_t length);
    // Erases the 4 KiB sectors of [start, start + length), then writes pages of pageSize bytes
    // (the last one filled up with 0xFF, as the erased part reads), reads each back and compares
    // it; progress gets the element bytes of each page. 0, the erase error, or -1 for a failed
    // write or read or a page that reads back different.
    int WriteFlashRegion(uint32_t start, uint32_t length, const BYTE* data, uint32_t pageSize,
                         const ElementProgress& progress);

    CJNDevice* m_pDevice;     // the camera being updated; not owned
    FILE* m_pFile = nullptr;  // the open upgrade file; null when closed

  private:
    // Whether the camera takes bytes of this element: a known type that takes them, and some.
    bool Writes(const UpgradeElmentHeader& element) const {
        return element.length > 0 && KindOf(element.type) != ElementKind::kUnknown &&
               TakesBytes(element.type);
    }
    // The headers alone: the bytes to write and the bytes of the records of their runs
    // (m_records), or a status other than 0.
    int SizeElements(const UpgradeFileHeader& header, uint64_t* bytes, size_t* records);
    void ClearElements();

    // Positions the file at the first element (after the support list).
    bool SeekElements(const UpgradeFileHeader& header);
    // The parts of ReadUpgradeFile: the next element's header, with its length checked
    // against what is left of the file (0, or -1 as ReadUpgradeFile); then its data, read and
    // unmasked (length or -1), or passed over (0 or -1).
    int ReadElementHeader(UpgradeElmentHeader* header);
    int ReadElementData(const UpgradeElmentHeader& header, BYTE** data);
    int ReadElementDataInto(const UpgradeElmentHeader& header, BYTE* data);  // 0 or -1
    int SkipElementData(const UpgradeElmentHeader& header);
    int ReadHeader(UpgradeFileHeader* header);

    uint64_t m_fileSize = 0;  // bytes of the open file
    // From the last CheckElements, in file order: the runs of elements to write, as
    // ElementRunRecorder records them; their bytes stand one after the other in m_bytes.
    std::vector<uint8_t> m_records;
    std::unique_ptr<BYTE[]> m_bytes;  // unmasked; null when nothing is written
};
