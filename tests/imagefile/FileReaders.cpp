#include "FileReaders.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace filetest {

namespace {

// Debian's interpreter, whose packages include python3-pil (another python3 on PATH may not).
constexpr const char* kPython = "/usr/bin/python3";

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// A scratch file for a reader's output, outside the folder under test (which may be full).
std::string SideFile(const char* suffix) {
    static std::atomic<unsigned> counter{0};
    return "/tmp/qv-reader-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + suffix;
}

}  // namespace

TempDir::TempDir() {
    char pattern[] = "/tmp/qv-files-XXXXXX";
    if (mkdtemp(pattern) != nullptr) m_path = pattern;
    EXPECT_FALSE(m_path.empty()) << "no temporary folder";
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
}

std::vector<std::string> TempDir::Names() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(m_path, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << path;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t o) {
    if (o + 4 > b.size()) return 0xDEADBEEF;
    return b[o] | b[o + 1] << 8 | b[o + 2] << 16 | static_cast<uint32_t>(b[o + 3]) << 24;
}

uint16_t Le16(const std::vector<uint8_t>& b, size_t o) {
    if (o + 2 > b.size()) return 0xDEAD;
    return static_cast<uint16_t>(b[o] | b[o + 1] << 8);
}

std::string Run(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (status != nullptr) *status = -1;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int raw = pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

std::vector<Decoded> DecodeWithPil(const std::vector<std::string>& paths) {
    std::string command = std::string(kPython) + " " + Quote(QV_IMAGE_READER) + " pixels";
    std::vector<std::string> outputs;
    for (const auto& p : paths) {
        outputs.push_back(SideFile(".pixels"));
        command += " " + Quote(p) + " " + Quote(outputs.back());
    }
    int status = 0;
    std::istringstream lines(Run(command + " 2>&1", &status));
    EXPECT_EQ(status, 0) << lines.str();
    std::vector<Decoded> result(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        Decoded& d = result[i];
        if (lines >> d.format >> d.mode >> d.width >> d.height)
            d.pixels = ReadAll(outputs[i]);
        else
            d = Decoded{};
        std::remove(outputs[i].c_str());
    }
    return result;
}

JpegCheck CheckJpeg(const std::string& path, const std::vector<uint8_t>& reference) {
    return CheckJpegs({{path, reference}})[0];
}

std::vector<JpegCheck> CheckJpegs(
    const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
    std::string command = std::string(kPython) + " " + Quote(QV_IMAGE_READER) + " jpeg";
    std::vector<std::string> refs;
    for (const auto& [path, reference] : files) {
        refs.push_back(SideFile(".ref"));
        WriteAll(refs.back(), reference);
        command += " " + Quote(path) + " " + Quote(refs.back());
    }
    int status = 0;
    std::istringstream lines(Run(command + " 2>&1", &status));
    for (const std::string& ref : refs) std::remove(ref.c_str());
    EXPECT_EQ(status, 0) << lines.str();
    std::vector<JpegCheck> result(files.size());
    for (JpegCheck& c : result) {
        std::string error;
        lines >> c.mode >> c.width >> c.height >> error >> c.qMin >> c.qMax;
        c.meanError = error.empty() || error == "size-mismatch" ? -1 : std::atof(error.c_str());
    }
    return result;
}

AviProbe ProbeAvi(const std::string& path) {
    AviProbe p;
    const std::string err = SideFile(".errors");
    std::istringstream out(
        Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
            "stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_read_frames -of "
            "default=noprint_wrappers=1 " +
            Quote(path) + " 2>" + Quote(err)));
    std::string line;
    while (std::getline(out, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "codec_name") p.codec = value;
        if (key == "pix_fmt") p.pixFmt = value;
        if (key == "width") p.width = std::atoi(value.c_str());
        if (key == "height") p.height = std::atoi(value.c_str());
        if (key == "r_frame_rate") p.rate = value;
        if (key == "nb_read_frames") p.frames = std::atoi(value.c_str());
    }
    const std::vector<uint8_t> e = ReadAll(err);
    p.errors.assign(e.begin(), e.end());
    std::remove(err.c_str());
    return p;
}

std::vector<uint8_t> DecodeAvi(const std::string& path) {
    const std::string out = SideFile(".bgr");
    int status = 0;
    const std::string log = Run("ffmpeg -nostdin -v error -y -i " + Quote(path) +
                                    " -f rawvideo -pix_fmt bgr24 " + Quote(out) + " 2>&1",
                                &status);
    EXPECT_EQ(status, 0) << log;
    std::vector<uint8_t> frames = ReadAll(out);
    std::remove(out.c_str());
    return frames;
}

}  // namespace filetest
