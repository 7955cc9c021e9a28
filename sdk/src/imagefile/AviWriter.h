// AviWriter: an AVI (RIFF) file with one uncompressed video stream, written frame by frame.
//
// Layout: a 2048-byte header area (zero from Open, a provisional header from SetVideo, the
// final header from Close), then the "movi" list of "00db" chunks (8-byte chunk header, the
// data, a zero byte after odd-length data) from offset 2048, then the "idx1" index, which is
// kept in memory (16 bytes per frame) and written by Close. So a file that was not closed has
// a provisional header and no index.
//
// Space for each chunk and for the index that follows it is reserved before the chunk is
// written, so that on a full disk a frame is refused whole and Close can still finish the file
// with the frames written before.
//
// Not thread-safe: one thread at a time per writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The last error of the writer on the calling thread (diagnostics only; nothing prints it).
enum AviError : int {
    AVI_ERR_NONE = 0,
    AVI_ERR_SIZELIM = 1,  // the file would pass kMaxFileBytes
    AVI_ERR_OPEN = 2,
    AVI_ERR_READ = 3,
    AVI_ERR_WRITE = 4,
    AVI_ERR_WRITE_INDEX = 5,
    AVI_ERR_CLOSE = 6,
    AVI_ERR_NOT_PERM = 7,
    AVI_ERR_NO_MEM = 8,
    AVI_ERR_NO_AVI = 9,
    AVI_ERR_NO_HDRL = 10,
    AVI_ERR_NO_MOVI = 11,
    AVI_ERR_NO_VIDS = 12,
    AVI_ERR_NO_IDX = 13,
    AVI_ERR_UNKNOWN = 14,
};
extern thread_local int AviLastError;
// The text of an error number ("avilib - No Error", ...); numbers outside 0..14 read as 14.
const char* AviErrorText(int error);

class AviWriter {
  public:
    static constexpr int64_t kHeaderBytes = 2048;
    static constexpr size_t kIndexGrowth = 4096;  // index entries added at a time
    // 4294967295 - 16777216 - 2048: the largest file, pending index included.
    static constexpr int64_t kMaxFileBytes = 0xFEFFF7FF;

    // Opens (creates with 0644 minus the umask; an existing file is not truncated until Close)
    // and fills the header area with zeros. Null with AviLastError set when it cannot, also
    // when the name leads to something other than a regular file (a folder, FIFO, device node
    // or socket), which is left as it is.
    static std::unique_ptr<AviWriter> Open(const char* path);
    // Closes the descriptor of a writer that was not closed; the file is not finished.
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Records the stream (compressor "RGB": uncompressed; another text: its first four bytes)
    // and writes the provisional header. 0, or -1 (error 6).
    int SetVideo(int width, int height, double frameRate, const char* compressor);
    // Appends one chunk. 0; -1 with error 1 (size limit), 4 (write, or no room on the disk;
    // nothing of the chunk counts) or 8 (index memory).
    int WriteFrame(const void* data, uint32_t length, bool keyFrame);
    // Writes the index and the final header, truncates the file after the index and closes
    // it. 0; -1 when the index (error 5), the header, the truncation or the close (error 6)
    // failed. The writer takes no more calls afterwards.
    int Close();

    uint32_t VideoFrames() const { return m_videoFrames; }
    int VideoWidth() const { return m_width; }
    int VideoHeight() const { return m_height; }
    double FrameRate() const { return m_frameRate; }
    // Where the next chunk goes (2048 before the first).
    int64_t WritePosition() const { return m_pos; }

  private:
    struct IndexEntry {
        uint32_t offset;  // of the chunk header, from the start of the file
        uint32_t length;
        bool key;
    };

    explicit AviWriter(int fd) : m_fd(fd) {}
    // The 2048-byte header: provisional (while recording) or final, with the has-index flag.
    void BuildHeader(uint8_t* out, bool final, bool hasIndex, int64_t moviEnd,
                     int64_t fileEnd) const;
    // Reserves disk space for bytes at offset; false only when the disk has no room.
    bool Reserve(int64_t offset, int64_t bytes);
    bool WriteAt(int64_t offset, const void* data, size_t bytes);

    int m_fd;
    int m_width = 0;
    int m_height = 0;
    double m_frameRate = 0;
    uint32_t m_compressor = 0;
    uint32_t m_videoFrames = 0;
    int64_t m_pos = kHeaderBytes;
    std::vector<IndexEntry> m_index;
    uint32_t m_maxChunk = 0;
    int64_t m_lastFramePos = 0;
    uint32_t m_lastFrameLength = 0;
    bool m_reserveSupported = true;
};
