// The six exports and their helpers with the station closed (no camera on this machine): the
// return codes of every argument case, the paths, the folder, a save before any shot, the log
// lines, and an open that finds no upper camera.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "StdStreamCapture.h"
#include "Tarn.h"
#include "TarnLog.h"
#include "Tarnlex.h"
#include "Wcam.h"

namespace {

namespace fs = std::filesystem;

TEST(CombinePath, JoinsWithOneSlashAndRefusesWhatDoesNotFit) {
    struct Case {
        std::string dir, file, expected;
        bool fits;
    };
    const std::string d250(250, 'd');
    const Case cases[] = {
        {"out", "a.jpg", "out/a.jpg", true},
        {"out/", "a.jpg", "out/a.jpg", true},
        {"out//", "a.jpg", "out//a.jpg", true},
        {"/", "a.jpg", "/a.jpg", true},
        {d250, "a2345678", d250 + "/a2345678", true},  // 259 characters
        {d250, "a23456789", "", false},                // 260
        {std::string(400, 'd'), "a.jpg", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir.substr(0, 10) + " + " + c.file);
        // Guard bytes after the 260: nothing may be written there.
        std::vector<char> path(kTarnPathSize + 16, '#');
        EXPECT_EQ(CombinePath(path.data(), c.dir.c_str(), c.file.c_str()), c.fits);
        if (c.fits) {
            EXPECT_EQ(std::string(path.data()), c.expected);
        }
        EXPECT_EQ(std::string(path.data() + kTarnPathSize, 16), std::string(16, '#'));
    }
}

class Closed : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/qv-tarn-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_out = m_dir + "/Output";
    }
    void TearDown() override {
        std::lock_guard<std::mutex> lock(m_shotMutex);
        for (cv::Mat& m : m_shotFrames) m.release();
        fs::remove_all(m_dir);
    }

    // The pwcapture call, with writable arrays for the names.
    int Save(const std::string& dir, FOOT_XD_INFO* info, const char* sole = "shoe.bmp",
             const char* group = "view.bmp") {
        std::vector<char> out(dir.begin(), dir.end());
        out.push_back('\0');
        char soleName[300], groupName[300];
        std::snprintf(soleName, sizeof soleName, "%s", sole);
        std::snprintf(groupName, sizeof groupName, "%s", group);
        char v1[] = "view1.bmp", v2[] = "view2.bmp", v3[] = "view3.bmp", v4[] = "view4.bmp";
        char* views[] = {v1, v2, v3, v4};
        return Tarn_SaveXDImageEX(out.data(), soleName, views, groupName, info);
    }

    std::string m_dir;
    std::string m_out;
};

TEST_F(Closed, SmallCalls) {
    EXPECT_EQ(Tarn_IsSupportCap(), 1);
    EXPECT_EQ(Tarn_SetFootDirect(0), 1);
    EXPECT_EQ(Tarn_SetFootDirect(-1), -3);
    EXPECT_EQ(Tarn_SetFootDirect(2), -3);

    std::vector<unsigned char> sole(624000, 0xAB), mosaic(172800, 0xCD);
    EXPECT_EQ(Tarn_GetPreviewImage(nullptr, mosaic.data()), -1);
    EXPECT_EQ(Tarn_GetPreviewImage(sole.data(), nullptr), -1);
    EXPECT_EQ(sole, std::vector<unsigned char>(sole.size(), 0xAB));
    EXPECT_EQ(mosaic, std::vector<unsigned char>(mosaic.size(), 0xCD));
    // Closed, before any foot: the published sole image is black, and there is no mosaic.
    EXPECT_EQ(Tarn_GetPreviewImage(sole.data(), mosaic.data()), 1);
    EXPECT_EQ(sole, std::vector<unsigned char>(sole.size(), 0));
    EXPECT_EQ(mosaic, std::vector<unsigned char>(mosaic.size(), 0xCD));

    CStdStreamCapture capture;
    EXPECT_EQ(Tarn_ReleaseDevice(), 1);
    capture.Stop();
    EXPECT_EQ(capture.Out(),
              "[INFO] : 释放足迹采集设备\n[INFO] : wcam_Close\n[INFO] : qvcam_Close\n");
}

TEST_F(Closed, AnOpenWithoutUpperCamerasFailsAndLeavesTheStationClosed) {
    // No /dev/wcam1 on this machine.
    ASSERT_FALSE(fs::exists("/dev/wcam1"));
    CStdStreamCapture capture;
    EXPECT_EQ(Tarn_InitDevice(), -2);
    capture.Stop();
    EXPECT_EQ(
        capture.Out(),
        "[INFO] : 初始化足迹采集设备\n[INFO] : \n[INFO] : 符号链接解析失败\n[INFO] : wcam_Close\n");
    EXPECT_NE(capture.Err().find("realpath: No such file or directory\n"), std::string::npos);
    EXPECT_FALSE(m_wcamThreadState);
    // Still closed: a second open tries again.
    CStdStreamCapture again;
    EXPECT_EQ(Tarn_InitDevice(), -2);
}

TEST_F(Closed, NullArgumentsAreRefusedBeforeAnythingIsCreated) {
    FOOT_XD_INFO info{};
    char dir[64];
    std::snprintf(dir, sizeof dir, "%s", m_out.c_str());
    char sole[] = "shoe.bmp", group[] = "view.bmp";
    char v1[] = "view1.bmp", v2[] = "view2.bmp", v4[] = "view4.bmp";
    char* views[] = {v1, v2, v1, v4};
    char* holed[] = {v1, v2, nullptr, v4};
    EXPECT_EQ(Tarn_SaveXDImageEX(dir, sole, views, group, nullptr), -6);
    EXPECT_EQ(Tarn_SaveXDImageEX(nullptr, sole, views, group, &info), -6);
    EXPECT_EQ(Tarn_SaveXDImageEX(dir, nullptr, views, group, &info), -6);
    EXPECT_EQ(Tarn_SaveXDImageEX(dir, sole, nullptr, group, &info), -6);
    EXPECT_EQ(Tarn_SaveXDImageEX(dir, sole, holed, group, &info), -6);
    EXPECT_EQ(Tarn_SaveXDImageEX(dir, sole, views, nullptr, &info), -6);
    EXPECT_FALSE(fs::exists(m_out));
    // A name that makes a path longer than 259 characters.
    const std::string longName(300 - m_out.size(), 'n');
    EXPECT_EQ(Save(m_out, &info, longName.c_str()), -6);
    EXPECT_EQ(Save(m_out, &info, "shoe.bmp", longName.c_str()), -6);
    EXPECT_FALSE(fs::exists(m_out));
    EXPECT_EQ(info.footScore, 0) << "nothing measured";
}

TEST_F(Closed, AFolderThatCannotBeMadeIsRefused) {
    FOOT_XD_INFO info{};
    std::ofstream(m_dir + "/file") << "x";
    CStdStreamCapture capture;
    EXPECT_EQ(Save(m_dir + "/file", &info), -7);
    // One mkdir only: a missing parent is not made.
    EXPECT_EQ(Save(m_dir + "/a/b", &info), -7);
    capture.Stop();
    EXPECT_FALSE(fs::exists(m_dir + "/a"));
    const std::string err = capture.Err();
    EXPECT_TRUE(std::regex_search(
        err, std::regex("(^|\n)\\[ERROR\\] [^ \n]+Tarn\\.cpp:[0-9]+ Path exists but is not a "
                        "directory:" +
                        m_dir + "/file\n")))
        << err;
    EXPECT_NE(err.find(" Error creating directory " + m_dir + "/a/b:No such file or directory\n"),
              std::string::npos)
        << err;
    EXPECT_NE(capture.Out().find("[INFO] : 从足迹采集设备保存图像\n"), std::string::npos);
}

// Whatever exists at the folder's path and is no directory refuses the save before anything is
// written, whichever bits its file type shares with a directory's.
TEST_F(Closed, AnythingButADirectoryIsRefusedAsTheFolder) {
    struct Kind {
        const char* name;
        std::function<bool(const std::string&)> make;
        bool privileged;  // needs CAP_MKNOD, which a container or user namespace may not give
    };
    const Kind kinds[] = {
        {"regular file", [](const std::string& p) { return std::ofstream(p).put('x').good(); },
         false},
        {"fifo", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; }, false},
        {"socket",
         [](const std::string& p) {
             const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             std::snprintf(address.sun_path, sizeof address.sun_path, "%s", p.c_str());
             const bool bound =
                 fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
             if (fd >= 0) close(fd);
             return bound;
         },
         false},
        {"block device",
         [](const std::string& p) { return mknod(p.c_str(), S_IFBLK | 0600, makedev(7, 0)) == 0; },
         true},
        {"character device",
         [](const std::string& p) { return mknod(p.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0; },
         true},
    };
    std::string skipped;
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const std::string path = m_dir + "/not-a-folder";
        const bool made = kind.make(path);
        const int error = errno;
        if (!made && kind.privileged && error == EPERM) {
            skipped += std::string(skipped.empty() ? "" : ", ") + kind.name;
            continue;
        }
        ASSERT_TRUE(made) << std::strerror(error);
        FOOT_XD_INFO info{};
        CStdStreamCapture capture;
        EXPECT_EQ(Save(path, &info), -7);
        capture.Stop();
        EXPECT_NE(capture.Err().find(" Path exists but is not a directory:" + path + "\n"),
                  std::string::npos)
            << capture.Err();
        EXPECT_EQ(capture.Out().find("qvcam_save"), std::string::npos) << "the save went on";
        EXPECT_EQ(info.footLong, 0);
        fs::remove(path);
    }
    if (!skipped.empty()) GTEST_SKIP() << "no permission to make a " << skipped;
}

TEST_F(Closed, ASaveBeforeAnyShotWritesTheSoleImageOnly) {
    FOOT_XD_INFO info{};
    CStdStreamCapture capture;
    EXPECT_EQ(Save(m_out, &info), 1);
    capture.Stop();
    EXPECT_EQ(info.footScore, -89);
    EXPECT_EQ(info.footLong, -342);
    EXPECT_EQ(info.footFrontWidth, -142);
    EXPECT_EQ(info.footBackWidth, -142);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_out), {}), 1);
    struct stat st {};
    ASSERT_EQ(stat(m_out.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    const cv::Mat sole = cv::imread(m_out + "/shoe.bmp");
    EXPECT_EQ(sole.size(), cv::Size(1934, 4134));
    EXPECT_EQ(capture.Out(),
              "[INFO] : 从足迹采集设备保存图像\n[INFO] : qvcam_save\n[INFO] : 图像保存成功: " +
                  m_out + "/shoe.bmp\n");
    // Into the existing folder, with the folder's name ending in '/'.
    EXPECT_EQ(Save(m_out + "/", &info), 1);
}

TEST_F(Closed, TheRulerSideFollowsTheLastAcceptedValue) {
    FOOT_XD_INFO info{};
    ASSERT_EQ(Tarn_SetFootDirect(1), 1);
    ASSERT_EQ(Tarn_SetFootDirect(2), -3);
    ASSERT_EQ(Save(m_out, &info), 1);
    const cv::Mat left = cv::imread(m_out + "/shoe.bmp");
    ASSERT_EQ(Tarn_SetFootDirect(0), 1);
    ASSERT_EQ(Save(m_out, &info), 1);
    const cv::Mat right = cv::imread(m_out + "/shoe.bmp");
    // The yellow strip: columns 0 to 159 with side 1, 1774 to 1933 with side 0.
    EXPECT_EQ(left.at<cv::Vec3b>(2000, 100), cv::Vec3b(0, 255, 255));
    EXPECT_EQ(left.at<cv::Vec3b>(2000, 1900), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(right.at<cv::Vec3b>(2000, 1900), cv::Vec3b(0, 255, 255));
    EXPECT_EQ(right.at<cv::Vec3b>(2000, 100), cv::Vec3b(0, 0, 0));
}

TEST_F(Closed, AFileThatWasNotWrittenIsReportedWithTheMeasurementsFilled) {
    FOOT_XD_INFO info{};
    // The sole image under a name no image writer knows: OpenCV's exception, one line.
    CStdStreamCapture capture;
    EXPECT_EQ(Save(m_out, &info, "shoe.unknown"), -8);
    capture.Stop();
    EXPECT_EQ(info.footLong, -342);
    EXPECT_EQ(capture.Out().find("图像保存成功"), std::string::npos);
    EXPECT_TRUE(std::regex_match(
        capture.Err(), std::regex("\\[ERROR\\] [^ \n]+QvcamSave\\.cpp:[0-9]+ cannot write the sole "
                                  "image " +
                                  m_out + "/shoe\\.unknown: OpenCV[^\n]+\n")))
        << capture.Err();

    // All four upper views frozen, but too small for their cuts: the views are due and refused.
    {
        std::lock_guard<std::mutex> lock(m_shotMutex);
        for (cv::Mat& m : m_shotFrames) m = cv::Mat(480, 640, CV_8UC3, cv::Scalar(1, 2, 3));
    }
    info = {};
    CStdStreamCapture views;
    EXPECT_EQ(Save(m_out, &info), -8);
    views.Stop();
    EXPECT_TRUE(fs::exists(m_out + "/shoe.bmp"));
    EXPECT_FALSE(fs::exists(m_out + "/view1.bmp"));
    EXPECT_EQ(info.footScore, -89);

    // Frozen frames of the right size: everything is written.
    {
        std::lock_guard<std::mutex> lock(m_shotMutex);
        for (cv::Mat& m : m_shotFrames) m = cv::Mat(720, 1280, CV_8UC3, cv::Scalar(1, 2, 3));
    }
    EXPECT_EQ(Save(m_out, &info), 1);
    for (const char* name :
         {"shoe.bmp", "view1.bmp", "view2.bmp", "view3.bmp", "view4.bmp", "view.bmp"})
        EXPECT_TRUE(fs::exists(m_out + "/" + name)) << name;
}

TEST(TarnLog, EveryMessageIsOneLineWhateverLineEndItBrings) {
    const std::pair<std::string, std::string> cases[] = {
        {"text", "text"}, {"text\n", "text"}, {"text\r\n", "text"},         {"text\n\n", "text"},
        {"", ""},         {"\n", ""},         {"two\nlines", "two\nlines"},
    };
    for (const auto& [message, shown] : cases) {
        SCOPED_TRACE(message);
        CStdStreamCapture capture;
        TarnLogInfo(message);
        TarnLogError("Source.cpp", 12, message);
        capture.Stop();
        EXPECT_EQ(capture.Out(), "[INFO] : " + shown + "\n");
        EXPECT_EQ(capture.Err(), "[ERROR] Source.cpp:12 " + shown + "\n");
    }
}

}  // namespace
