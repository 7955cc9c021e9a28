#include "imagefile/AviWriter.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include "common/ByteOrder.h"
#include "imagefile/FileTarget.h"

thread_local int AviLastError = AVI_ERR_NONE;

const char* AviErrorText(int error) {
    static const char* const kTexts[] = {
        "avilib - No Error",
        "avilib - AVI file size limit reached",
        "avilib - Error opening AVI file",
        "avilib - Error reading from AVI file",
        "avilib - Error writing to AVI file",
        "avilib - Error writing index (file may still be useable)",
        "avilib - Error closing AVI file",
        "avilib - Operation (read/write) not permitted",
        "avilib - Out of memory (malloc failed)",
        "avilib - Not an AVI file",
        "avilib - AVI file has no header list (corrupted?)",
        "avilib - AVI file has no MOVI list (corrupted?)",
        "avilib - AVI file has no video data",
        "avilib - operation needs an index",
        "avilib - Unkown Error",
    };
    if (error < 0 || error > AVI_ERR_UNKNOWN) error = AVI_ERR_UNKNOWN;
    return kTexts[error];
}

namespace {

// Looks and opens when the name keeps changing in between, before the open is given up.
constexpr int kOpenAttempts = 4;

constexpr uint32_t kChunkHeaderBytes = 8;
constexpr uint32_t kIndexEntryBytes = 16;
constexpr uint32_t kKeyFrameFlag = 0x10;
constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifInterleaved = 0x100;
// File length and movie list size of the provisional header.
constexpr uint32_t kProvisionalSize = 0xFEFFF003;
// Where the "movi" list header starts: its size counts from 2044, after the size field.
constexpr int64_t kMoviListOffset = AviWriter::kHeaderBytes - 12;

// The microseconds per frame and the rate in millionths of a frame per second, rounded to the
// nearest whole number (at most the largest 32-bit value); both 0 below 0.001 frames per second.
uint32_t Rounded32(double value) {
    const double rounded = std::floor(value + 0.5);
    return rounded >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(rounded);
}
uint32_t MicrosecondsPerFrame(double rate) {
    return rate >= 0.001 ? Rounded32(1e6 / rate) : 0;
}
uint32_t RateField(double rate) {
    return rate >= 0.001 ? Rounded32(rate * 1e6) : 0;
}

class HeaderWriter {
  public:
    explicit HeaderWriter(uint8_t* out) : m_out(out), m_p(out) {}
    void Tag(const char* fourcc) {
        std::memcpy(m_p, fourcc, 4);
        m_p += 4;
    }
    void U32(uint32_t value) {
        qv::StoreLe32(m_p, value);
        m_p += 4;
    }
    void U16(uint16_t value) {
        m_p[0] = static_cast<uint8_t>(value);
        m_p[1] = static_cast<uint8_t>(value >> 8);
        m_p += 2;
    }
    void Zeros(size_t n) {
        std::memset(m_p, 0, n);
        m_p += n;
    }
    size_t Offset() const { return static_cast<size_t>(m_p - m_out); }

  private:
    uint8_t* m_out;
    uint8_t* m_p;
};

}  // namespace

std::unique_ptr<AviWriter> AviWriter::Open(const char* path) {
    if (path == nullptr) {
        AviLastError = AVI_ERR_OPEN;
        return nullptr;
    }
    // Only a regular file (or nothing, which is created) takes a recording; whatever else is
    // there is never opened: opening a device node alone can act on the hardware, and a FIFO's
    // reader would be woken. The file is opened through what the look found, so nothing put
    // under the name in between is opened instead; a blocking open, as a lease on the file is
    // to be waited out. open applies the process umask to 0644 itself.
    qv::imagefile::CFileTarget target;
    int fd = -1;
    // Another try only when the name changed under the look (EAGAIN) or before the open.
    for (int attempt = 0; attempt < kOpenAttempts && fd < 0; ++attempt) {
        if (!target.Locate(path)) {
            if (errno != EAGAIN) break;
            continue;
        }
        fd = target.Open(O_RDWR | O_NOCTTY | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EAGAIN && errno != EEXIST) break;
    }
    if (fd < 0) {
        AviLastError = AVI_ERR_OPEN;
        return nullptr;
    }
    std::unique_ptr<AviWriter> writer(new (std::nothrow) AviWriter(fd));
    if (!writer) {
        close(fd);
        AviLastError = AVI_ERR_NO_MEM;
        return nullptr;
    }
    const uint8_t zeros[kHeaderBytes] = {};
    if (!writer->WriteAt(0, zeros, sizeof zeros)) {
        AviLastError = AVI_ERR_WRITE;
        return nullptr;  // the destructor closes the descriptor
    }
    return writer;
}

AviWriter::~AviWriter() {
    if (m_fd >= 0) close(m_fd);
}

int AviWriter::SetVideo(int width, int height, double frameRate, const char* compressor) {
    m_width = width;
    m_height = height;
    m_frameRate = frameRate;
    m_compressor = 0;
    if (compressor != nullptr && std::strcmp(compressor, "RGB") != 0) {
        uint8_t code[4] = {};
        std::memcpy(code, compressor, strnlen(compressor, 4));
        m_compressor = qv::LoadLe32(code);
    }
    uint8_t header[kHeaderBytes];
    BuildHeader(header, false, true, 0, 0);
    if (!WriteAt(0, header, sizeof header)) {
        AviLastError = AVI_ERR_CLOSE;
        return -1;
    }
    return 0;
}

int AviWriter::WriteFrame(const void* data, uint32_t length, bool keyFrame) {
    if (m_fd < 0) {
        AviLastError = AVI_ERR_NOT_PERM;
        return -1;
    }
    const int64_t pendingIndex = static_cast<int64_t>(kIndexEntryBytes) * m_index.size();
    if (m_pos + length + pendingIndex + 32 > kMaxFileBytes) {
        AviLastError = AVI_ERR_SIZELIM;
        return -1;
    }
    if (m_index.size() == m_index.capacity()) {
        try {
            m_index.reserve(m_index.capacity() + kIndexGrowth);
        } catch (const std::bad_alloc&) {
            AviLastError = AVI_ERR_NO_MEM;
            return -1;
        }
    }
    const uint32_t pad = length & 1;
    const int64_t chunkBytes = kChunkHeaderBytes + static_cast<int64_t>(length) + pad;
    // Room for this chunk and for the index Close writes after it, the index's header included.
    if (!Reserve(m_pos, chunkBytes + kChunkHeaderBytes + pendingIndex + kIndexEntryBytes)) {
        AviLastError = AVI_ERR_WRITE;
        return -1;
    }

    uint8_t chunkHeader[kChunkHeaderBytes];
    std::memcpy(chunkHeader, "00db", 4);
    qv::StoreLe32(chunkHeader + 4, length);
    static const uint8_t kPad = 0;
    iovec parts[3] = {{chunkHeader, sizeof chunkHeader},
                      {const_cast<void*>(data), length},
                      {const_cast<uint8_t*>(&kPad), pad}};
    // One call for the whole chunk; a short write continues where it stopped. A failure leaves
    // the write position where it was, so the next chunk (or the index) overwrites the rest.
    int64_t at = m_pos;
    int count = pad != 0 ? 3 : 2;
    iovec* part = parts;
    while (count > 0) {
        const ssize_t n = pwritev(m_fd, part, count, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            AviLastError = AVI_ERR_WRITE;
            return -1;
        }
        at += n;
        size_t done = static_cast<size_t>(n);
        while (count > 0 && done >= part->iov_len) {
            done -= part->iov_len;
            ++part;
            --count;
        }
        if (count > 0) {
            part->iov_base = static_cast<uint8_t*>(part->iov_base) + done;
            part->iov_len -= done;
        }
    }

    m_index.push_back({static_cast<uint32_t>(m_pos), length, keyFrame});
    if (length > m_maxChunk) m_maxChunk = length;
    ++m_videoFrames;
    m_lastFramePos = m_pos;
    m_lastFrameLength = length;
    m_pos += chunkBytes;
    return 0;
}

int AviWriter::Close() {
    if (m_fd < 0) {
        AviLastError = AVI_ERR_NOT_PERM;
        return -1;
    }
    int result = 0;
    const int64_t moviEnd = m_pos;
    // The index: "idx1", its size, then per frame "00db", flags, chunk offset, length.
    bool hasIndex = false;
    const size_t indexBytes = kChunkHeaderBytes + kIndexEntryBytes * m_index.size();
    std::unique_ptr<uint8_t[]> index(new (std::nothrow) uint8_t[indexBytes]);
    if (index) {
        uint8_t* p = index.get();
        std::memcpy(p, "idx1", 4);
        qv::StoreLe32(p + 4, static_cast<uint32_t>(indexBytes - kChunkHeaderBytes));
        p += kChunkHeaderBytes;
        for (const IndexEntry& e : m_index) {
            std::memcpy(p, "00db", 4);
            qv::StoreLe32(p + 4, e.key ? kKeyFrameFlag : 0);
            qv::StoreLe32(p + 8, e.offset);
            qv::StoreLe32(p + 12, e.length);
            p += kIndexEntryBytes;
        }
        hasIndex = WriteAt(m_pos, index.get(), indexBytes);
    }
    if (hasIndex) {
        m_pos += static_cast<int64_t>(indexBytes);
    } else {
        AviLastError = AVI_ERR_WRITE_INDEX;
        result = -1;
    }

    uint8_t header[kHeaderBytes];
    BuildHeader(header, true, hasIndex, moviEnd, m_pos);
    bool closed = WriteAt(0, header, sizeof header);
    while (closed && ftruncate(m_fd, m_pos) != 0)
        if (errno != EINTR) closed = false;
    // close releases the descriptor whatever it answers.
    if (close(m_fd) != 0) closed = false;
    m_fd = -1;
    m_index.clear();
    m_index.shrink_to_fit();
    if (!closed) {
        AviLastError = AVI_ERR_CLOSE;
        result = -1;
    }
    return result;
}

void AviWriter::BuildHeader(uint8_t* out, bool final, bool hasIndex, int64_t moviEnd,
                            int64_t fileEnd) const {
    const uint32_t frames = final ? m_videoFrames : 0;
    HeaderWriter h(out);
    h.Tag("RIFF");
    h.U32(final ? static_cast<uint32_t>(fileEnd - 8) : kProvisionalSize);
    h.Tag("AVI ");
    h.Tag("LIST");
    h.U32(192);
    h.Tag("hdrl");
    h.Tag("avih");
    h.U32(56);
    h.U32(MicrosecondsPerFrame(m_frameRate));
    h.U32(0);  // maximum bytes per second
    h.U32(0);  // padding granularity
    h.U32(hasIndex ? kAvifHasIndex | kAvifInterleaved : kAvifInterleaved);
    h.U32(frames);
    h.U32(0);  // initial frames
    h.U32(1);  // streams
    h.U32(0);  // suggested buffer size
    h.U32(static_cast<uint32_t>(m_width));
    h.U32(static_cast<uint32_t>(m_height));
    h.Zeros(16);
    h.Tag("LIST");
    h.U32(116);
    h.Tag("strl");
    h.Tag("strh");
    h.U32(56);
    h.Tag("vids");
    h.U32(m_compressor);
    h.U32(0);        // flags
    h.U16(0);        // priority
    h.U16(0);        // language
    h.U32(0);        // initial frames
    h.U32(1000000);  // scale: the rate below is in millionths of a frame per second
    h.U32(RateField(m_frameRate));
    h.U32(0);  // start
    h.U32(frames);
    h.U32(0);            // suggested buffer size
    h.U32(0xFFFFFFFFu);  // quality: the default
    h.U32(0);            // sample size
    h.Zeros(8);          // frame rectangle
    h.Tag("strf");
    h.U32(40);
    h.U32(40);  // the bitmap header's own size
    h.U32(static_cast<uint32_t>(m_width));
    h.U32(static_cast<uint32_t>(m_height));  // positive: rows bottom to top
    h.U16(1);
    h.U16(24);
    h.U32(m_compressor);
    h.U32(static_cast<uint32_t>(static_cast<uint64_t>(m_width) * m_height * 3));
    h.Zeros(16);
    if (final) {
        h.Tag("LIST");
        h.U32(76);
        h.Tag("INFO");
        h.Tag("ISFT");
        h.U32(64);
        h.Zeros(64);
    }
    // Filler up to the "movi" list, which begins 12 bytes before the first chunk.
    h.Tag("JUNK");
    h.U32(static_cast<uint32_t>(kMoviListOffset - h.Offset() - 4));
    h.Zeros(static_cast<size_t>(kMoviListOffset) - h.Offset());
    h.Tag("LIST");
    h.U32(final ? static_cast<uint32_t>(moviEnd - (kMoviListOffset + 8)) : kProvisionalSize);
    h.Tag("movi");
}

bool AviWriter::Reserve(int64_t offset, int64_t bytes) {
    if (!m_reserveSupported) return true;
    // Allocates without moving the end of the file, so the file stays what has been written.
    const int r = fallocate(m_fd, FALLOC_FL_KEEP_SIZE, offset, bytes);
    if (r == 0) return true;
    if (errno == EOPNOTSUPP || errno == ENOSYS) {
        m_reserveSupported = false;  // a file system without it: writes report a full disk
        return true;
    }
    return false;
}

bool AviWriter::WriteAt(int64_t offset, const void* data, size_t bytes) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (bytes > 0) {
        const ssize_t n = pwrite(m_fd, p, bytes, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        bytes -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}
