// Image files through the controller: the layouts, every format read back by independent
// readers, the quality rule, creation failures and bad input.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "FileReaders.h"
#include "FrameMaker.h"
#include "QVCameraApi.h"
#include "control/CameraControl.h"

namespace {

using filetest::ExpectedGreyOrRgb;
using filetest::Le16;
using filetest::Le32;
using filetest::MakeFrame;
using filetest::ReadAll;
using filetest::TempDir;
using filetest::TestFrame;

constexpr int kJpeg = 1, kBmp = 2, kRaw = 4, kPng = 8;

const char* Extension(int type) {
    switch (type) {
        case kJpeg:
            return ".jpg";
        case kBmp:
            return ".bmp";
        case kRaw:
            return ".raw";
        default:
            return ".png";
    }
}

class ImageFile : public ::testing::Test {
  protected:
    int Save(const std::string& base, const TestFrame& f, int type, int quality = 90) {
        return m_control.CameraSaveImage(base.c_str(), f.bytes.data(), &f.head, type, quality);
    }

    CameraControl m_control{nullptr};  // saving needs no camera
    TempDir m_dir;
};

// The layouts, checked byte by byte in the written file.
TEST_F(ImageFile, Layouts) {
    struct Row {
        const char* name;
        TestFrame frame;
        int type;
        std::function<void(const TestFrame&, const std::vector<uint8_t>&)> check;
    };
    auto bmpHeader = [](const std::vector<uint8_t>& b, uint32_t dataOffset, uint32_t width,
                        uint32_t height, uint16_t bits, uint32_t pixelBytes) {
        ASSERT_EQ(b.size(), dataOffset + pixelBytes);
        EXPECT_EQ(b[0], 'B');
        EXPECT_EQ(b[1], 'M');
        EXPECT_EQ(Le32(b, 2), b.size());
        EXPECT_EQ(Le32(b, 6), 0u);
        EXPECT_EQ(Le32(b, 10), dataOffset);
        EXPECT_EQ(Le32(b, 14), 40u);
        EXPECT_EQ(Le32(b, 18), width);
        EXPECT_EQ(static_cast<int32_t>(Le32(b, 22)), -static_cast<int32_t>(height));
        EXPECT_EQ(Le16(b, 26), 1);
        EXPECT_EQ(Le16(b, 28), bits);
        EXPECT_EQ(Le32(b, 30), 0u);
        EXPECT_EQ(Le32(b, 34), pixelBytes);
        EXPECT_EQ(Le32(b, 38), 0u);
        EXPECT_EQ(Le32(b, 42), 0u);
        EXPECT_EQ(Le32(b, 46), bits == 8 ? 256u : 0u);
        EXPECT_EQ(Le32(b, 50), 0u);
        if (bits == 8) {
            for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(Le32(b, 54 + 4 * i), i * 0x010101u);
        }
    };
    const std::vector<Row> rows = {
        {"1x1 mono BMP: headers, palette, one pixel and three padding bytes",
         filetest::UniformFrame(1, 1, CAMERA_MEDIA_TYPE_MONO8, {0x5A}), kBmp,
         [&](const TestFrame&, const std::vector<uint8_t>& b) {
             ASSERT_EQ(b.size(), 1082u);
             bmpHeader(b, 1078, 1, 1, 8, 4);
             EXPECT_EQ(std::vector<uint8_t>(b.begin() + 1078, b.end()),
                       (std::vector<uint8_t>{0x5A, 0, 0, 0}));
         }},
        {"1280x720 BGR8 BMP: the pixel bytes are the frame",
         MakeFrame(1280, 720, CAMERA_MEDIA_TYPE_BGR8), kBmp,
         [&](const TestFrame& f, const std::vector<uint8_t>& b) {
             ASSERT_EQ(b.size(), 54u + 2764800u);
             bmpHeader(b, 54, 1280, 720, 24, 2764800);
             EXPECT_TRUE(std::equal(f.bytes.begin(), f.bytes.end(), b.begin() + 54));
         }},
        {"3x2 RGB8 BMP: B, G, R rows padded to 12 bytes", MakeFrame(3, 2, CAMERA_MEDIA_TYPE_RGB8),
         kBmp,
         [&](const TestFrame& f, const std::vector<uint8_t>& b) {
             bmpHeader(b, 54, 3, 2, 24, 24);
             for (size_t y = 0; y < 2; ++y) {
                 for (size_t x = 0; x < 3; ++x)
                     for (size_t c = 0; c < 3; ++c)
                         EXPECT_EQ(b[54 + y * 12 + x * 3 + c], f.bytes[(y * 3 + x) * 3 + 2 - c]);
                 for (size_t pad = 9; pad < 12; ++pad) EXPECT_EQ(b[54 + y * 12 + pad], 0);
             }
         }},
        {"2x2 RGBA8 BMP: 32-bit B, G, R, A", MakeFrame(2, 2, CAMERA_MEDIA_TYPE_RGBA8), kBmp,
         [&](const TestFrame& f, const std::vector<uint8_t>& b) {
             bmpHeader(b, 54, 2, 2, 32, 16);
             for (size_t i = 0; i < 4; ++i) {
                 const uint8_t* in = f.bytes.data() + 4 * i;
                 EXPECT_EQ(std::vector<uint8_t>(b.begin() + 54 + 4 * i, b.begin() + 58 + 4 * i),
                           (std::vector<uint8_t>{in[2], in[1], in[0], in[3]}));
             }
         }},
        {"2x2 BGRA8 BMP: as it is", MakeFrame(2, 2, CAMERA_MEDIA_TYPE_BGRA8), kBmp,
         [&](const TestFrame& f, const std::vector<uint8_t>& b) {
             bmpHeader(b, 54, 2, 2, 32, 16);
             EXPECT_TRUE(std::equal(f.bytes.begin(), f.bytes.end(), b.begin() + 54));
         }},
        {"mono 12 in 16, word 0x0ABC: grey 0xAB",
         filetest::UniformFrame(4, 1, CAMERA_MEDIA_TYPE_MONO12_16, {0xBC, 0x0A}), kBmp,
         [&](const TestFrame&, const std::vector<uint8_t>& b) {
             bmpHeader(b, 1078, 4, 1, 8, 4);
             EXPECT_EQ(std::vector<uint8_t>(b.begin() + 1078, b.end()),
                       (std::vector<uint8_t>(4, 0xAB)));
         }},
        {"RAW of a Bayer code: TotalBytes as they are", MakeFrame(16, 8, filetest::kBayerGrbg8),
         kRaw, [&](const TestFrame& f, const std::vector<uint8_t>& b) { EXPECT_EQ(b, f.bytes); }},
        {"RAW of mono 12: the words as they are", MakeFrame(5, 3, CAMERA_MEDIA_TYPE_MONO12_16),
         kRaw, [&](const TestFrame& f, const std::vector<uint8_t>& b) { EXPECT_EQ(b, f.bytes); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string base = m_dir / "layout";
        ASSERT_EQ(Save(base, row.frame, row.type), 0);
        row.check(row.frame, ReadAll(base + Extension(row.type)));
    }
}

// Every accepted format as BMP and PNG decodes to exactly the frame's pixels, and as JPEG at
// quality 95 to nearly them. The odd width makes BMP rows padded.
TEST_F(ImageFile, EveryFormatReadsBackWithPil) {
    const std::vector<uint32_t> types = {CAMERA_MEDIA_TYPE_MONO8, CAMERA_MEDIA_TYPE_MONO12_16,
                                         CAMERA_MEDIA_TYPE_RGB8,  CAMERA_MEDIA_TYPE_BGR8,
                                         CAMERA_MEDIA_TYPE_RGBA8, CAMERA_MEDIA_TYPE_BGRA8};
    std::vector<std::string> files;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> jpegs;
    std::vector<TestFrame> frames;
    for (size_t i = 0; i < types.size(); ++i) {
        frames.push_back(MakeFrame(37, 23, types[i], static_cast<int>(i)));
        const std::string base = m_dir / ("f" + std::to_string(i));
        ASSERT_EQ(Save(base, frames.back(), kBmp), 0);
        ASSERT_EQ(Save(base, frames.back(), kPng), 0);
        ASSERT_EQ(Save(base, frames.back(), kJpeg, 95), 0);
        files.push_back(base + ".bmp");
        files.push_back(base + ".png");
        jpegs.emplace_back(base + ".jpg", ExpectedGreyOrRgb(frames.back()));
    }
    const std::vector<filetest::Decoded> decoded = filetest::DecodeWithPil(files);
    const std::vector<filetest::JpegCheck> checks = filetest::CheckJpegs(jpegs);
    for (size_t i = 0; i < types.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "media type 0x" << std::hex << types[i]);
        const bool grey = types[i] >> 24 == 1;
        const std::vector<uint8_t> expected = ExpectedGreyOrRgb(frames[i]);
        for (int k = 0; k < 2; ++k) {
            const filetest::Decoded& d = decoded[2 * i + k];
            EXPECT_EQ(d.format, k == 0 ? "BMP" : "PNG");
            EXPECT_EQ(d.mode, grey ? "L" : "RGB");
            EXPECT_EQ(d.width, 37);
            EXPECT_EQ(d.height, 23);
            EXPECT_TRUE(d.pixels == expected) << d.format << " pixels differ";
        }
        const filetest::JpegCheck& jpeg = checks[i];
        EXPECT_EQ(jpeg.mode, grey ? "L" : "RGB");
        EXPECT_EQ(jpeg.width, 37);
        EXPECT_EQ(jpeg.height, 23);
        EXPECT_GE(jpeg.meanError, 0.0);
        EXPECT_LT(jpeg.meanError, 3.0);
    }
}

// A mono 12-bit word 0x0ABC is grey 0xAB in PNG and JPEG too (quality 100 keeps a flat image
// exact).
TEST_F(ImageFile, Mono12IsItsTopEightBitsInEveryFormat) {
    const TestFrame f = filetest::UniformFrame(16, 16, CAMERA_MEDIA_TYPE_MONO12_16, {0xBC, 0x0A});
    ASSERT_EQ(Save(m_dir / "m", f, kPng), 0);
    ASSERT_EQ(Save(m_dir / "m", f, kJpeg, 100), 0);
    const auto decoded = filetest::DecodeWithPil({m_dir / "m.png"});
    EXPECT_EQ(decoded[0].pixels, std::vector<uint8_t>(256, 0xAB));
    const filetest::JpegCheck jpeg =
        filetest::CheckJpeg(m_dir / "m.jpg", std::vector<uint8_t>(256, 0xAB));
    EXPECT_EQ(jpeg.meanError, 0.0);
}

// pngcheck finds both PNG kinds well formed.
TEST_F(ImageFile, PngcheckAcceptsGreyAndRgb) {
    ASSERT_EQ(Save(m_dir / "grey", MakeFrame(64, 40, CAMERA_MEDIA_TYPE_MONO8), kPng), 0);
    ASSERT_EQ(Save(m_dir / "rgb", MakeFrame(64, 40, CAMERA_MEDIA_TYPE_BGRA8), kPng), 0);
    int status = -1;
    const std::string out =
        filetest::Run("pngcheck -v " + m_dir / "grey.png" + " " + m_dir / "rgb.png", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("64 x 40 image, 8-bit grayscale, non-interlaced"), std::string::npos) << out;
    EXPECT_NE(out.find("64 x 40 image, 24-bit RGB, non-interlaced"), std::string::npos) << out;
    EXPECT_NE(out.find("No errors detected in " + m_dir / "grey.png"), std::string::npos) << out;
    EXPECT_NE(out.find("No errors detected in " + m_dir / "rgb.png"), std::string::npos) << out;
}

// Only the low 8 bits of the quality count: 356 is 100, whose quantization tables are all 1.
// The file is baseline (start-of-frame marker 0xFFC0).
TEST_F(ImageFile, JpegQualityIsItsLowEightBits) {
    const TestFrame f = MakeFrame(32, 16, CAMERA_MEDIA_TYPE_RGB8);
    ASSERT_EQ(Save(m_dir / "q", f, kJpeg, 356), 0);
    const filetest::JpegCheck jpeg = filetest::CheckJpeg(m_dir / "q.jpg", ExpectedGreyOrRgb(f));
    EXPECT_EQ(jpeg.qMin, 1);
    EXPECT_EQ(jpeg.qMax, 1);
    const std::vector<uint8_t> b = ReadAll(m_dir / "q.jpg");
    const uint8_t sof0[] = {0xFF, 0xC0};
    EXPECT_NE(std::search(b.begin(), b.end(), sof0, sof0 + 2), b.end());
}

// A file that cannot be created: RAW, JPEG and PNG -1, BMP -13.
TEST_F(ImageFile, CreationFailureCodes) {
    const TestFrame f = MakeFrame(8, 8, CAMERA_MEDIA_TYPE_MONO8);
    const std::string base = m_dir / "missing-folder/x";
    EXPECT_EQ(Save(base, f, kRaw), CAMERA_STATUS_FAILED);
    EXPECT_EQ(Save(base, f, kJpeg), CAMERA_STATUS_FAILED);
    EXPECT_EQ(Save(base, f, kPng), CAMERA_STATUS_FAILED);
    EXPECT_EQ(Save(base, f, kBmp), CAMERA_STATUS_IO_ERROR);
    EXPECT_TRUE(m_dir.Names().empty());
}

// Saving again over a file replaces it whole.
TEST_F(ImageFile, SavingAgainReplacesTheFile) {
    ASSERT_EQ(Save(m_dir / "r", MakeFrame(64, 64, CAMERA_MEDIA_TYPE_BGR8), kBmp), 0);
    const TestFrame small = MakeFrame(2, 2, CAMERA_MEDIA_TYPE_MONO8, 3);
    ASSERT_EQ(Save(m_dir / "r", small, kBmp), 0);
    const std::vector<uint8_t> b = ReadAll(m_dir / "r.bmp");
    ASSERT_EQ(b.size(), 1078u + 8u);
    EXPECT_EQ(b[1078], small.bytes[0]);
    EXPECT_EQ(m_dir.Names(), std::vector<std::string>{"r.bmp"});
}

// A name that is a symbolic link (relative or absolute, a chain of them, or one whose target
// does not exist yet): the link stays, and its target gets the whole new file, still written
// under a temporary name beside the target and renamed.
TEST_F(ImageFile, SavingOverALinkWritesItsTarget) {
    namespace fs = std::filesystem;
    const TestFrame f = MakeFrame(4, 2, CAMERA_MEDIA_TYPE_MONO8, 7);
    const fs::path dir = m_dir.Path();
    fs::create_directory(dir / "store");
    struct Row {
        const char* name;
        int type;
        std::function<void(const fs::path& link, const fs::path& target)> make;
        bool targetBefore;  // the target exists with other contents
    };
    const Row rows[] = {
        {"relative link", kRaw,
         [&](const fs::path& link, const fs::path& target) {
             fs::create_symlink(fs::relative(target, dir), link);
         },
         true},
        {"absolute link", kBmp,
         [&](const fs::path& link, const fs::path& target) { fs::create_symlink(target, link); },
         true},
        {"chain of links", kPng,
         [&](const fs::path& link, const fs::path& target) {
             fs::create_symlink(target, dir / "store" / "middle.png");
             fs::create_symlink("store/middle.png", link);
         },
         true},
        {"target not there yet", kJpeg,
         [&](const fs::path& link, const fs::path& target) {
             fs::create_symlink(fs::relative(target, dir), link);
         },
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path link = dir / (std::string("shot") + Extension(row.type));
        const fs::path target = dir / "store" / (std::string("real") + Extension(row.type));
        if (row.targetBefore) filetest::WriteAll(target, std::vector<uint8_t>(5000, 0xEE));
        row.make(link, target);

        ASSERT_EQ(Save((dir / "shot").string(), f, row.type), 0);
        EXPECT_TRUE(fs::is_symlink(link));
        const std::vector<uint8_t> written = ReadAll(target);
        ASSERT_FALSE(written.empty());
        EXPECT_NE(written.size(), 5000u);
        if (row.type == kRaw) {
            EXPECT_EQ(written, f.bytes);
        }
        // Only the link and the target: no temporary file left beside either.
        std::vector<std::string> names;
        for (const fs::path& d : {dir, dir / "store"})
            for (const auto& e : fs::directory_iterator(d))
                if (e.path().filename().string().front() == '.') names.push_back(e.path());
        EXPECT_TRUE(names.empty());

        fs::remove_all(dir / "store");
        fs::create_directory(dir / "store");
        fs::remove(link);
    }
    // Links that lead round in a circle name no file: the save fails and leaves only them.
    fs::create_symlink("loop.raw", dir / "store" / "loop2.raw");
    fs::create_symlink("store/loop2.raw", dir / "loop.raw");
    fs::create_symlink("../loop.raw", dir / "store" / "loop.raw");
    EXPECT_EQ(Save((dir / "loop").string(), f, kRaw), CAMERA_STATUS_FAILED);
    EXPECT_EQ(m_dir.Names(), (std::vector<std::string>{"loop.raw", "store"}));
}

// Bad input answers its code and leaves nothing behind.
TEST_F(ImageFile, BadInputWritesNothing) {
    const TestFrame mono = MakeFrame(8, 8, CAMERA_MEDIA_TYPE_MONO8);
    const TestFrame colour = MakeFrame(8, 8, CAMERA_MEDIA_TYPE_BGR8);
    const TestFrame bayer = MakeFrame(8, 8, filetest::kBayerGrbg8);
    auto sized = [&](uint32_t w, uint32_t h) {
        TestFrame f = mono;
        f.head.iWidth = w;
        f.head.iHeight = h;
        return f;
    };
    const TestFrame wideJpeg = MakeFrame(65501, 1, CAMERA_MEDIA_TYPE_MONO8);
    const TestFrame widePng = MakeFrame(1000001, 1, CAMERA_MEDIA_TYPE_MONO8);
    const std::string base = m_dir / "bad";
    struct Row {
        const char* name;
        std::function<int()> call;
        int want;
    };
    const std::vector<Row> rows = {
        {"null image",
         [&] { return m_control.CameraSaveImage(base.c_str(), nullptr, &mono.head, kBmp, 0); },
         CAMERA_STATUS_PARAMETER_INVALID},
        {"null descriptor",
         [&] {
             return m_control.CameraSaveImage(base.c_str(), mono.bytes.data(), nullptr, kBmp, 0);
         },
         CAMERA_STATUS_PARAMETER_INVALID},
        {"null path",
         [&] { return m_control.CameraSaveImage(nullptr, mono.bytes.data(), &mono.head, kBmp, 0); },
         CAMERA_STATUS_PARAMETER_INVALID},
        {"type 0", [&] { return Save(base, mono, 0); }, CAMERA_STATUS_PARAMETER_INVALID},
        {"type 3", [&] { return Save(base, mono, 3); }, CAMERA_STATUS_PARAMETER_INVALID},
        {"type 16", [&] { return Save(base, mono, 16); }, CAMERA_STATUS_PARAMETER_INVALID},
        {"RAW of a colour frame", [&] { return Save(base, colour, kRaw); },
         CAMERA_STATUS_PARAMETER_INVALID},
        {"BMP of a Bayer frame", [&] { return Save(base, bayer, kBmp); },
         CAMERA_STATUS_NOT_SUPPORTED},
        {"PNG of a Bayer frame", [&] { return Save(base, bayer, kPng); },
         CAMERA_STATUS_NOT_SUPPORTED},
        {"JPEG of a Bayer frame", [&] { return Save(base, bayer, kJpeg); },
         CAMERA_STATUS_NOT_SUPPORTED},
        {"width 0", [&] { return Save(base, sized(0, 8), kBmp); }, CAMERA_STATUS_PARAMETER_INVALID},
        {"height 0", [&] { return Save(base, sized(8, 0), kPng); },
         CAMERA_STATUS_PARAMETER_INVALID},
        {"negative width", [&] { return Save(base, sized(0x80000000u, 8), kJpeg); },
         CAMERA_STATUS_PARAMETER_INVALID},
        {"negative height, RAW", [&] { return Save(base, sized(8, 0xFFFFFFF8u), kRaw); },
         CAMERA_STATUS_PARAMETER_INVALID},
        // 0x7FFFFFFF x 0x7FFFFFFF bytes is no BMP (its sizes are 32-bit); the frame is never
        // read.
        {"BMP past 4 GiB", [&] { return Save(base, sized(0x7FFFFFFF, 0x7FFFFFFF), kBmp); },
         CAMERA_STATUS_PARAMETER_INVALID},
        // Sides the encoders refuse are refused before anything is created.
        {"JPEG wider than 65500", [&] { return Save(base, wideJpeg, kJpeg); },
         CAMERA_STATUS_FAILED},
        {"PNG wider than 1000000", [&] { return Save(base, widePng, kPng); }, CAMERA_STATUS_FAILED},
        // A head whose byte count is short of its pixels: nothing is read or created.
        {"BMP of 9 x 8 in 64 bytes", [&] { return Save(base, sized(9, 8), kBmp); },
         CAMERA_STATUS_PARAMETER_INVALID},
        {"PNG of 8 x 9 in 64 bytes", [&] { return Save(base, sized(8, 9), kPng); },
         CAMERA_STATUS_PARAMETER_INVALID},
        {"JPEG of 8 x 8 colour in 64 bytes",
         [&] {
             TestFrame f = mono;
             f.head.uiMediaType = CAMERA_MEDIA_TYPE_BGR8;
             return Save(base, f, kJpeg);
         },
         CAMERA_STATUS_PARAMETER_INVALID},
        {"null handle at the export",
         [&] {
             return CameraSaveImage(nullptr, base.c_str(), const_cast<BYTE*>(mono.bytes.data()),
                                    const_cast<stImageInfo*>(&mono.head), kBmp, 0);
         },
         CAMERA_STATUS_PARAMETER_INVALID},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.call(), row.want);
        EXPECT_TRUE(m_dir.Names().empty());
    }
}

// The name with its extension must fit 264 bytes: a path of 259 characters does, 260 not.
TEST_F(ImageFile, PathLengthLimit) {
    const TestFrame f = MakeFrame(4, 4, CAMERA_MEDIA_TYPE_MONO8);
    const std::string folder = m_dir.Path() + "/";
    ASSERT_LT(folder.size(), 40u);
    const std::string fits = folder + std::string(259 - folder.size(), 'n');
    const std::string tooLong = folder + std::string(260 - folder.size(), 'l');
    for (int type : {kJpeg, kBmp, kRaw, kPng}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(Save(tooLong, f, type), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_FALSE(filetest::Exists(tooLong + Extension(type)));
        EXPECT_EQ(Save(fits, f, type), 0);
        EXPECT_TRUE(filetest::Exists(fits + Extension(type)));
    }
    EXPECT_EQ(m_dir.Names().size(), 4u);
}

// Through the export, on a camera handle.
TEST_F(ImageFile, ExportSavesThroughTheController) {
    TestFrame f = MakeFrame(9, 7, CAMERA_MEDIA_TYPE_RGB8);
    const std::string base = m_dir / "export";
    ASSERT_EQ(CameraSaveImage(static_cast<HANDLE>(&m_control), base.c_str(), f.bytes.data(),
                              &f.head, kPng, 0),
              0);
    EXPECT_EQ(filetest::DecodeWithPil({base + ".png"})[0].pixels, ExpectedGreyOrRgb(f));
}

}  // namespace
