// Independent readers of the files the SDK writes: python3-pil for BMP, PNG and JPEG, pngcheck
// for PNG, ffprobe and ffmpeg for AVI; plus a private folder and whole-file reads for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace filetest {

// A fresh folder under /tmp, removed with its contents when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    // The names in the folder, sorted.
    std::vector<std::string> Names() const;

  private:
    std::string m_path;
};

bool Exists(const std::string& path);
std::vector<uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);
uint32_t Le32(const std::vector<uint8_t>& bytes, size_t offset);
uint16_t Le16(const std::vector<uint8_t>& bytes, size_t offset);

// Runs a shell command; its standard output, and its exit status in *status.
std::string Run(const std::string& command, int* status = nullptr);

// What PIL decodes from an image file: its format, mode, size and pixels (grey bytes, or R, G,
// B without alpha).
struct Decoded {
    std::string format;  // "BMP", "PNG", "JPEG"; empty when PIL could not read the file
    std::string mode;    // "L" or "RGB"
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};
// Decodes several files with one interpreter start.
std::vector<Decoded> DecodeWithPil(const std::vector<std::string>& paths);

// A JPEG read by PIL: mode and size, the mean absolute difference of its pixels from
// reference, and the smallest and largest quantization table entry.
struct JpegCheck {
    std::string mode;
    int width = 0;
    int height = 0;
    double meanError = -1;  // -1 when the sizes differ or PIL could not read the file
    int qMin = -1;
    int qMax = -1;
};
JpegCheck CheckJpeg(const std::string& path, const std::vector<uint8_t>& reference);
// Several files with one interpreter start: {path, reference} each.
std::vector<JpegCheck> CheckJpegs(
    const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files);

// What ffprobe reports of an AVI's video stream, frames counted by decoding.
struct AviProbe {
    std::string codec;   // "rawvideo"
    std::string pixFmt;  // "bgr24"
    int width = 0;
    int height = 0;
    std::string rate;    // "25/1"
    int frames = -1;     // frames decoded
    std::string errors;  // ffprobe's complaints (standard error)
};
AviProbe ProbeAvi(const std::string& path);
// Every frame ffmpeg decodes, as B, G, R rows top first, one after the other.
std::vector<uint8_t> DecodeAvi(const std::string& path);

}  // namespace filetest
