// Parameter-group files: names by mode and group, the "_SAVE" file, the defaults of a record, and
// the configuration folder under HOME.
#include "ParameterFileFixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace paramtest;

// ---- Names, groups and the configuration folder --------------------------------------------

TEST_F(ParameterFiles, GroupFileNamesFollowModeAndGroup) {
    const tDevInfo info = MakeDevInfo("QV-200", "Line 1", "SN0001");
    struct Case {
        int mode, group;
        const char* name;
    };
    const Case cases[] = {
        {0, 0, "QV-200_Cfg_A.bin"},  {1, 1, "Line 1_Cfg_B.bin"},      {2, 2, "SN0001_Cfg_C.bin"},
        {0, 3, "QV-200_Cfg_D.bin"},  {0, 255, "QV-200_Cfg_SAVE.bin"}, {0, 7, "QV-200_Cfg_A.bin"},
        {0, -1, "QV-200_Cfg_A.bin"}, {5, 1, "QV-200_Cfg_B.bin"},      {-1, 2, "QV-200_Cfg_C.bin"},
    };
    for (const Case& c : cases) {
        std::string path;
        m_builder.MakeCfgFilePath(path, "/cfg", c.mode, c.group, &info);
        EXPECT_EQ(path, std::string("/cfg/") + c.name) << c.mode << "," << c.group;
    }
    std::string path;
    m_builder.MakeCfgFilePath(path, "/cfg/", 0, 0, &info);
    EXPECT_EQ(path, "/cfg/QV-200_Cfg_A.bin");
}

TEST_F(ParameterFiles, DeviceNamesCannotLeaveTheFolderOrOverrunTheirFields) {
    tDevInfo info{};
    std::memcpy(info.acFriendlyName, "../../etc/passwd", 17);
    std::memset(info.acProductName, 'P', sizeof info.acProductName);  // no terminator
    std::string path;
    m_builder.MakeCfgFilePath(path, "/cfg", 1, 0, &info);
    EXPECT_EQ(path, "/cfg/.._.._etc_passwd_Cfg_A.bin");
    m_builder.MakeCfgFilePath(path, "/cfg", 0, 0, &info);
    EXPECT_EQ(path, "/cfg/" + std::string(32, 'P') + "_Cfg_A.bin");
}

TEST_F(ParameterFiles, GroupSevenReadsAndWritesTheFirstGroupFile) {
    const tDevInfo info = MakeDevInfo("QV-200", "Line 1", "SN0001");
    CameraParameter r = PatternedRecord(30);
    ASSERT_EQ(m_builder.SaveGroup(m_dir.c_str(), &r, 0, 7, &info, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(DirEntries(m_dir), std::vector<std::string>{"QV-200_Cfg_A.bin"});
    CameraParameter loaded{};
    ASSERT_EQ(m_builder.LoadGroup(m_dir.c_str(), 0, 7, &info, &loaded, nullptr, nullptr, nullptr),
              0);
    EXPECT_TRUE(SameBytes(loaded, r));
}

// What a controller does: saving group g writes the group file under the chosen key and the
// "_SAVE" file under the product name; a later start without a given group reads "_SAVE" and
// follows the mode and group it names.
TEST_F(ParameterFiles, SaveFileLeadsTheNextStartToTheSavedGroup) {
    const tDevInfo info = MakeDevInfo("QV-200", "Line 1", "SN0001");
    CameraParameter current = PatternedRecord(40);
    current.settings.parameterMode = 2;
    current.settings.parameterGroup = 2;
    current.settings.blackLevel = 33;
    ASSERT_EQ(m_builder.SaveGroup(m_dir.c_str(), &current, 2, 2, &info, nullptr, nullptr, nullptr),
              0);
    ASSERT_EQ(m_builder.SaveGroup(m_dir.c_str(), &current, 0, CameraParameterBuilder::kSaveGroup,
                                  &info, nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(DirEntries(m_dir),
              (std::vector<std::string>{"QV-200_Cfg_SAVE.bin", "SN0001_Cfg_C.bin"}));

    CameraParameter next{};
    ASSERT_EQ(m_builder.LoadGroup(m_dir.c_str(), 0, CameraParameterBuilder::kSaveGroup, &info,
                                  &next, nullptr, nullptr, nullptr),
              0);
    ASSERT_EQ(next.settings.parameterMode, 2);
    ASSERT_EQ(next.settings.parameterGroup, 2);
    CameraParameter group{};
    ASSERT_EQ(
        m_builder.LoadGroup(m_dir.c_str(), next.settings.parameterMode,
                            next.settings.parameterGroup, &info, &group, nullptr, nullptr, nullptr),
        0);
    EXPECT_EQ(group.settings.blackLevel, 33);

    // Another model has no "_SAVE" file here.
    const tDevInfo other = MakeDevInfo("QV-500", "Line 1", "SN0001");
    EXPECT_EQ(m_builder.LoadGroup(m_dir.c_str(), 0, 255, &other, &next, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FILE_IO_FAILED);
}

TEST_F(ParameterFiles, SetDefaultChangesOnlyItsFields) {
    CameraParameter r;
    std::memset(&r, 0x5A, sizeof r);
    FileImage expected(sizeof r, 0x5A);
    expected.U32(0, kMagic).I32(4, 3);
    expected.I32(628, 1);  // 0x5A5A5A5A is no light frequency
    expected.U8(804, 1).U8(805, 0);
    expected.I32(808, 1).U32(812, 0);
    expected.U8(816, 0).I32(820, 1).U32(824, 50000);  // input line 0
    expected.U8(828, 1).I32(832, 1).U32(836, 50000);  // input line 1
    for (int line = 0; line < 4; ++line) {            // output lines, 28 bytes each from 840
        const size_t at = 840 + 28 * line;
        expected.U8(at, line == 0 ? 0 : 1).U8(at + 1, 0);
        const int32_t words[6] = {0, 0, 1, 1000, 0, 0};
        expected.Raw(at + 4, words, sizeof words);
    }
    expected.I32(956, 9000).I32(960, 0).U32(964, 0).I32(968, -1).I32(972, 0).I32(976, 1);

    m_builder.SetDefault(&r);
    const auto* got = reinterpret_cast<const uint8_t*>(&r);
    for (size_t i = 0; i < sizeof r; ++i) ASSERT_EQ(got[i], expected.Bytes()[i]) << "byte " << i;

    r.settings.lightFrequency = 2;
    m_builder.SetDefault(&r);
    EXPECT_EQ(r.settings.lightFrequency, 2);
}

TEST_F(ParameterFiles, ConfigFolderIsMadeUnderHome) {
    const mode_t oldMask = ::umask(022);
    std::string dir;
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), 0);
    EXPECT_EQ(dir, m_root + "/.QVConfig/");
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), 0);  // already there

    // HOME unset or empty: the current directory.
    const fs::path cwd = fs::current_path();
    fs::current_path(m_dir);
    ::unsetenv("HOME");
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), 0);
    EXPECT_EQ(dir, "./.QVConfig/");
    EXPECT_TRUE(fs::is_directory(m_dir + "/.QVConfig"));
    ::setenv("HOME", "", 1);
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), 0);
    EXPECT_EQ(dir, "./.QVConfig/");
    fs::current_path(cwd);
    ::umask(oldMask);
}

TEST_F(ParameterFiles, ConfigFolderOfAnyHomeLengthIsBuiltWholeOrRefused) {
    // A home deeper than any fixed path buffer: 6 levels of 100 characters.
    std::string home = m_root;
    for (int i = 0; i < 6; ++i) home += "/" + std::string(100, static_cast<char>('a' + i));
    fs::create_directories(home);
    ::setenv("HOME", home.c_str(), 1);
    std::string dir;
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), 0);
    EXPECT_EQ(dir, home + "/.QVConfig/");
    EXPECT_TRUE(fs::is_directory(dir));

    const tDevInfo info = MakeDevInfo("QV-200", "Line 1", "SN0001");
    CameraParameter r = PatternedRecord(1);
    EXPECT_EQ(m_builder.SaveGroup(dir.c_str(), &r, 0, 0, &info, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(fs::exists(dir + "QV-200_Cfg_A.bin"));

    // Longer than the system takes in a path: refused, not cut short.
    const std::string huge = m_root + "/" + std::string(20000, 'x');
    ::setenv("HOME", huge.c_str(), 1);
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), CAMERA_STATUS_FAILED);
    EXPECT_EQ(dir, huge + "/.QVConfig/");

    // A home that is a file.
    const std::string file = m_root + "/plain";
    std::ofstream(file) << "x";
    ::setenv("HOME", file.c_str(), 1);
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), CAMERA_STATUS_FAILED);
    // A ".QVConfig" that is a file.
    std::ofstream(m_root + "/.QVConfig") << "x";
    ::setenv("HOME", m_root.c_str(), 1);
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), CAMERA_STATUS_FAILED);
}

}  // namespace
