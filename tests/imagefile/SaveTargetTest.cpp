// Where image files and recordings land when their name is not a plain new file: links are
// followed as the kernel follows them (also its protection of links in shared folders and its
// limit of 40), and only a regular file that may be written, or nothing, is replaced.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "FileReaders.h"
#include "FrameMaker.h"
#include "QVCameraApi.h"
#include "control/CameraControl.h"

namespace {

namespace fs = std::filesystem;
using filetest::MakeFrame;
using filetest::ReadAll;
using filetest::TempDir;
using filetest::TestFrame;
using filetest::WriteAll;

constexpr uid_t kOther = 65534;  // nobody
constexpr gid_t kOtherGroup = 65534;

struct Format {
    int type;
    const char* extension;
    int cannotCreate;  // the code for a file that cannot be created
};
constexpr Format kFormats[] = {
    {1, ".jpg", CAMERA_STATUS_FAILED},
    {2, ".bmp", CAMERA_STATUS_IO_ERROR},
    {4, ".raw", CAMERA_STATUS_FAILED},
    {8, ".png", CAMERA_STATUS_FAILED},
};

// Sets fs.protected_symlinks (or another of the kernel's protections of shared folders) while
// it lives and puts the earlier value back. The setting is the host's: every user of it holds a
// lock on the setting's own file meanwhile, so that test processes running side by side (other
// build trees too) neither see nor restore each other's value. That file is the kernel's, so no
// other user can put a link in its place or hold its lock; a lock not had within a minute makes
// the test skip, saying so.
class LinkProtection {
  public:
    explicit LinkProtection(char value, const char* path = kPath) : m_path(path) {
        m_lock = open(m_path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (m_lock < 0) {
            m_why = std::string(m_path) + " cannot be opened: " + std::strerror(errno);
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) ||
                std::chrono::steady_clock::now() > deadline) {
                m_why = std::string("no lock on ") + m_path +
                        " within a minute: " + std::strerror(errno);
                close(m_lock);
                m_lock = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        m_old = Read();
        m_set = m_old != 0 && Write(value) && Read() == value;
        if (!m_set) m_why = std::string(m_path) + " cannot be set here";
    }
    ~LinkProtection() {
        if (m_set) Write(m_old);
        if (m_lock >= 0) close(m_lock);  // releases the lock
    }
    LinkProtection(const LinkProtection&) = delete;
    LinkProtection& operator=(const LinkProtection&) = delete;
    bool Set() const { return m_set; }
    const std::string& Why() const { return m_why; }

  private:
    static constexpr const char* kPath = "/proc/sys/fs/protected_symlinks";
    char Read() const {
        const int fd = open(m_path, O_RDONLY | O_CLOEXEC);
        char c = 0;
        if (fd >= 0 && read(fd, &c, 1) != 1) c = 0;
        if (fd >= 0) close(fd);
        return c;
    }
    bool Write(char value) const {
        const int fd = open(m_path, O_WRONLY | O_CLOEXEC);
        if (fd < 0) return false;
        const bool ok = write(fd, &value, 1) == 1;
        close(fd);
        return ok;
    }
    const char* m_path;
    int m_lock = -1;
    char m_old = 0;
    bool m_set = false;
    std::string m_why;
};

// The calling thread reaches files as another user (file-system ids only, which also drops
// root's right to ignore permission bits) while it lives.
class FileUser {
  public:
    FileUser(uid_t uid, gid_t gid) {
        setfsgid(gid);
        setfsuid(uid);
        m_set = static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))) == uid &&
                static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1))) == gid;
    }
    ~FileUser() {
        setfsuid(getuid());
        setfsgid(getgid());
    }
    FileUser(const FileUser&) = delete;
    FileUser& operator=(const FileUser&) = delete;
    bool Set() const { return m_set; }

  private:
    bool m_set = false;
};

// A link owned by owner (the caller is root).
void MakeLink(const std::string& to, const std::string& at, uid_t owner) {
    fs::create_symlink(to, at);
    ASSERT_EQ(lchown(at.c_str(), owner, owner), 0) << at;
}

// Names in a folder, sorted, for "nothing else was made".
std::vector<std::string> NamesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

class SaveTarget : public ::testing::Test {
  protected:
    int Save(const std::string& base, const Format& format) {
        return m_control.CameraSaveImage(base.c_str(), m_frame.bytes.data(), &m_frame.head,
                                         format.type, 90);
    }
    int Record(const std::string& path) {
        return m_control.CameraStartRecord(path.c_str(), 0, 80, 25);
    }

    CameraControl m_control{nullptr};  // saving needs no camera
    const TestFrame m_frame = MakeFrame(4, 2, CAMERA_MEDIA_TYPE_MONO8, 5);
    TempDir m_dir;
};

// Another user's link in a sticky world-writable folder is refused as opening it would refuse
// it (fs.protected_symlinks), whether its target exists or not; a link of the saver or of the
// folder's owner is followed.
TEST_F(SaveTarget, LinksInASharedFolderAsTheKernelFollowsThem) {
    LinkProtection protection('1');
    if (!protection.Set()) GTEST_SKIP() << protection.Why();
    const std::string shared = m_dir / "shared";
    const std::string victim = m_dir / "victim";
    const std::vector<uint8_t> before(5000, 0xEE);
    struct Row {
        const char* name;
        uid_t folderOwner;
        uid_t linkOwner;
        bool followed;
    };
    const Row rows[] = {
        {"another user's link", 0, kOther, false},
        {"the saver's own link", 0, 0, true},
        {"the folder owner's link", kOther, kOther, true},
    };
    for (const Row& row : rows) {
        for (const bool targetThere : {true, false}) {
            for (const Format& format : kFormats) {
                SCOPED_TRACE(std::string(row.name) + (targetThere ? ", file" : ", no file") +
                             format.extension);
                fs::create_directory(shared);
                ASSERT_EQ(chown(shared.c_str(), row.folderOwner, row.folderOwner), 0);
                ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
                fs::create_directory(victim);
                const std::string target = victim + "/important" + format.extension;
                if (targetThere) {
                    WriteAll(target, before);
                    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
                }
                const std::string link = shared + "/shot" + format.extension;
                MakeLink("../victim/important" + std::string(format.extension), link,
                         row.linkOwner);

                EXPECT_EQ(Save(shared + "/shot", format), row.followed ? 0 : format.cannotCreate);
                EXPECT_TRUE(fs::is_symlink(link));
                EXPECT_EQ(NamesIn(shared),
                          std::vector<std::string>{"shot" + std::string(format.extension)});
                if (row.followed) {
                    const std::vector<uint8_t> after = ReadAll(target);
                    EXPECT_FALSE(after.empty());
                    EXPECT_NE(after, before);
                } else if (targetThere) {
                    EXPECT_EQ(ReadAll(target), before);
                } else {
                    EXPECT_TRUE(NamesIn(victim).empty());
                }
                EXPECT_EQ(NamesIn(victim).size(), row.followed || targetThere ? 1u : 0u);
                fs::remove_all(shared);
                fs::remove_all(victim);
            }
        }
    }
}

// A link that another user puts under the name between the look at the name and the walk along
// the links is judged as the kernel would judge it: the file it points at never appears.
TEST_F(SaveTarget, ALinkPutInBetweenIsStillRefused) {
    LinkProtection protection('1');
    if (!protection.Set()) GTEST_SKIP() << protection.Why();
    const std::string shared = m_dir / "shared";
    const std::string victim = m_dir / "victim";
    fs::create_directory(shared);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    fs::create_directory(victim);
    const std::string link = shared + "/shot.raw";
    const std::string staged = shared + "/staged";
    std::atomic<int> placed{0};
    std::vector<int> results;
    {
        // The other user's side: the link comes and goes, each time whole (made aside, renamed
        // in). Joined (the jthread's stop) before the protection is put back.
        std::jthread other([&](std::stop_token stop) {
            while (!stop.stop_requested()) {
                if (symlink("../victim/new.raw", staged.c_str()) != 0 ||
                    lchown(staged.c_str(), kOther, kOther) != 0 ||
                    rename(staged.c_str(), link.c_str()) != 0)
                    break;
                placed.fetch_add(1);
                unlink(link.c_str());
            }
        });
        // Not before the other side runs, however slowly it is scheduled.
        for (int waited = 0; placed.load() == 0 && waited < 60000; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int round = 0; round < 3000 && !filetest::Exists(victim + "/new.raw"); ++round)
            results.push_back(Save(shared + "/shot", kFormats[2]));
    }
    EXPECT_GT(placed.load(), 0);
    EXPECT_TRUE(NamesIn(victim).empty());
    // Written to the shared name itself when no link was there; refused when one was at the
    // start (-1) or came under the name while the file was written (-13).
    for (const int result : results)
        EXPECT_TRUE(result == 0 || result == CAMERA_STATUS_FAILED ||
                    result == CAMERA_STATUS_IO_ERROR)
            << result;
    for (const std::string& name : NamesIn(shared)) EXPECT_NE(name[0], '.') << name;
}

// What is not a regular file is refused, named directly or through a link, by every format
// and by the recording; it stays as it was and nothing else is made.
TEST_F(SaveTarget, SpecialFilesAreNotReplaced) {
    const std::string store = m_dir / "store";
    struct Kind {
        const char* name;
        // Makes the thing at path; false when it cannot be made here (the row is skipped).
        std::function<bool(const std::string& path)> make;
        mode_t type;
    };
    std::vector<int> sockets;
    const Kind kinds[] = {
        {"FIFO", [](const std::string& p) { return mkfifo(p.c_str(), 0666) == 0; }, S_IFIFO},
        {"device node",
         [](const std::string& p) {
             return mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;  // as /dev/null
         },
         S_IFCHR},
        {"socket",
         [&](const std::string& p) {
             const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
             sockaddr_un addr{};
             addr.sun_family = AF_UNIX;
             if (s < 0 || p.size() >= sizeof addr.sun_path) return false;
             p.copy(addr.sun_path, p.size());
             sockets.push_back(s);
             return bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
         },
         S_IFSOCK},
        {"folder", [](const std::string& p) { return mkdir(p.c_str(), 0777) == 0; }, S_IFDIR},
    };
    for (const Kind& kind : kinds) {
        const std::string probe = m_dir / "probe";
        if (!kind.make(probe)) {
            if (kind.type == S_IFCHR && errno == EPERM) {
                std::cout << "[ SKIPPED ] device nodes cannot be made here\n";
                continue;
            }
            FAIL() << "cannot make a " << kind.name << ": " << std::strerror(errno);
        }
        fs::remove(probe);
        for (const bool throughLink : {false, true}) {
            Format avi{0, ".avi", CAMERA_STATUS_FILE_OPEN_FAILED};
            std::vector<Format> formats(std::begin(kFormats), std::end(kFormats));
            formats.push_back(avi);
            for (const Format& format : formats) {
                SCOPED_TRACE(std::string(kind.name) + (throughLink ? " through a link" : "") +
                             format.extension);
                fs::create_directory(store);
                const std::string name = m_dir / ("shot" + std::string(format.extension));
                const std::string thing = throughLink ? store + "/thing" + format.extension : name;
                ASSERT_TRUE(kind.make(thing)) << thing << ": " << std::strerror(errno);
                if (throughLink)
                    fs::create_symlink("store/thing" + std::string(format.extension), name);
                struct stat was {};
                ASSERT_EQ(lstat(thing.c_str(), &was), 0);
                // A reader on the FIFO keeps whatever is written into it.
                const int reader = kind.type == S_IFIFO
                                       ? open(thing.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                                       : -1;
                const std::vector<std::string> namesBefore = m_dir.Names();

                if (format.type == 0)
                    EXPECT_EQ(Record(name), format.cannotCreate);
                else
                    EXPECT_EQ(Save(m_dir / "shot", format), format.cannotCreate);

                struct stat is {};
                ASSERT_EQ(lstat(thing.c_str(), &is), 0);
                EXPECT_EQ(is.st_mode & S_IFMT, kind.type);
                EXPECT_EQ(is.st_ino, was.st_ino);
                EXPECT_EQ(m_dir.Names(), namesBefore);
                if (throughLink) {
                    EXPECT_TRUE(fs::is_symlink(name));
                    EXPECT_EQ(NamesIn(store).size(), 1u);
                }
                if (reader >= 0) {
                    char byte = 0;
                    EXPECT_LE(read(reader, &byte, 1), 0);
                    close(reader);
                }
                fs::remove_all(store);
                fs::remove_all(name);
            }
        }
    }
    for (int s : sockets) close(s);
}

// The kernel follows a chain of 40 links and calls 41 a loop; so do the saves and the
// recording, to a file that is there and to one that is not.
TEST_F(SaveTarget, ChainsUpToTheKernelsLimit) {
    const std::string store = m_dir / "store";
    for (const int links : {1, 40, 41}) {
        for (const bool targetThere : {true, false}) {
            for (const Format& format :
                 {kFormats[1], kFormats[2], Format{0, ".avi", CAMERA_STATUS_FILE_OPEN_FAILED}}) {
                SCOPED_TRACE(std::to_string(links) + " links" + (targetThere ? "" : ", no file") +
                             format.extension);
                fs::create_directory(store);
                const std::string ext = format.extension;
                const std::string target = store + "/target" + ext;
                if (targetThere) WriteAll(target, std::vector<uint8_t>(3000, 0x5A));
                // shot -> store/l1 -> store/l2 -> ... -> store/target
                const std::string name = m_dir / ("shot" + ext);
                for (int i = 1; i < links; ++i)
                    fs::create_symlink(
                        i + 1 < links ? "l" + std::to_string(i + 1) + ext : "target" + ext,
                        store + "/l" + std::to_string(i) + ext);
                fs::create_symlink(links > 1 ? "store/l1" + ext : "store/target" + ext, name);
                const bool followed = links <= 40;

                const int result = format.type == 0 ? Record(name) : Save(m_dir / "shot", format);
                if (format.type == 0 && result == 0) m_control.CameraStopRecord();
                EXPECT_EQ(result, followed ? 0 : format.cannotCreate);
                EXPECT_TRUE(fs::is_symlink(name));
                EXPECT_EQ(filetest::Exists(target), followed || targetThere);
                if (followed) {
                    EXPECT_NE(ReadAll(target), std::vector<uint8_t>(3000, 0x5A));
                } else if (targetThere) {
                    EXPECT_EQ(ReadAll(target), std::vector<uint8_t>(3000, 0x5A));
                }
                EXPECT_EQ(NamesIn(store).size(),
                          static_cast<size_t>(links - 1) + (followed || targetThere ? 1 : 0));
                fs::remove_all(store);
                fs::remove(name);
            }
        }
    }
}

// A file this user may not write is refused as opening it for writing would refuse it, named
// directly or through a link, and keeps its bytes; one it may write is replaced.
TEST_F(SaveTarget, AFileThatMayNotBeWrittenIsKept) {
    const std::string folder = m_dir / "mine";
    ASSERT_EQ(chmod(m_dir.Path().c_str(), 0755), 0);
    const std::vector<uint8_t> before(2000, 0x33);
    struct Row {
        const char* name;
        mode_t mode;
        bool throughLink;
        bool replaced;
    };
    const Row rows[] = {
        {"read-only", 0444, false, false},
        {"read-only through a link", 0444, true, false},
        {"writable", 0644, false, true},
        {"writable through a link", 0644, true, true},
    };
    for (const Row& row : rows) {
        for (const Format& format : kFormats) {
            SCOPED_TRACE(std::string(row.name) + format.extension);
            fs::create_directory(folder);
            ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
            const std::string ext = format.extension;
            const std::string file = folder + (row.throughLink ? "/real" : "/shot") + ext;
            WriteAll(file, before);
            ASSERT_EQ(chown(file.c_str(), kOther, kOtherGroup), 0);
            ASSERT_EQ(chmod(file.c_str(), row.mode), 0);
            if (row.throughLink) fs::create_symlink("real" + ext, folder + "/shot" + ext);
            int result = 0;
            {
                FileUser other(kOther, kOtherGroup);
                ASSERT_TRUE(other.Set());
                result = Save(folder + "/shot", format);
            }
            EXPECT_EQ(result, row.replaced ? 0 : format.cannotCreate);
            EXPECT_EQ(ReadAll(file) == before, !row.replaced);
            EXPECT_EQ(NamesIn(folder).size(), row.throughLink ? 2u : 1u);
            fs::remove_all(folder);
        }
    }
}

// A recording opens its file as opening it for writing would: a read lease another holder keeps
// on the file is broken and waited out, not taken as a file that cannot be opened.
TEST_F(SaveTarget, ARecordingWaitsOutALeaseOnItsFile) {
    const std::string name = m_dir / "leased.avi";
    WriteAll(name, std::vector<uint8_t>(100, 0x11));
    const int holder = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    // The break notice goes out as SIGURG, which is ignored unless handled: none is needed.
    ASSERT_EQ(fcntl(holder, F_SETSIG, SIGURG), 0);
    if (fcntl(holder, F_SETLEASE, F_RDLCK) != 0) {
        close(holder);
        GTEST_SKIP() << "no leases here: " << std::strerror(errno);
    }
    std::atomic<bool> broken{false};
    int result = 0;
    {
        // The holder gives the lease up once it is asked to, as a lease holder must.
        std::jthread releaser([&](std::stop_token stop) {
            for (int waited = 0; waited < 60000 && !stop.stop_requested(); ++waited) {
                if (fcntl(holder, F_GETLEASE) != F_RDLCK) {
                    broken = true;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            fcntl(holder, F_SETLEASE, F_UNLCK);
        });
        result = Record(name);
    }
    EXPECT_TRUE(broken.load());
    EXPECT_EQ(result, 0);
    if (result == 0) {
        EXPECT_EQ(m_control.CameraStopRecord(), 0);
    }
    close(holder);
    const std::vector<uint8_t> after = ReadAll(name);
    ASSERT_GE(after.size(), 12u);
    EXPECT_EQ(std::string(after.begin(), after.begin() + 4), "RIFF");
}

// A recording never opens what is not a regular file, also when the name changes between the
// look at it and the open: a FIFO swapped in at that moment is not opened (a reader waiting on
// it would be woken, and a device node's driver would be called).
TEST_F(SaveTarget, ARecordingNeverOpensAFifoSwappedInAfterTheLook) {
    const std::string fifo = m_dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    const std::string name = m_dir / "rec.avi";
    const std::string other = m_dir / "other";
    WriteAll(name, std::vector<uint8_t>(100, 0x22));
    fs::create_symlink("fifo", other);
    std::atomic<bool> stop{false};
    std::atomic<int> woken{0};
    std::atomic<int> swaps{0};
    std::vector<int> results;
    {
        // Counts the opens of the FIFO for writing: each wakes this reader.
        std::jthread reader([&] {
            for (;;) {
                const int fd = open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
                const bool stopped = stop.load();
                if (!stopped) woken.fetch_add(1);
                if (fd >= 0) close(fd);
                if (stopped || fd < 0) break;
            }
        });
        // The name is the regular file and the link to the FIFO in turn, each swap atomic.
        std::jthread swapper([&] {
            while (!stop.load()) {
                if (renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE) !=
                    0)
                    break;
                swaps.fetch_add(1);
            }
        });
        for (int waited = 0; swaps.load() == 0 && waited < 60000; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int round = 0; round < 20000 && woken.load() == 0; ++round) {
            const int result = Record(name);
            results.push_back(result);
            if (result == 0) m_control.CameraStopRecord();
        }
        stop = true;
        // Wakes the reader for the last time; held until it has gone.
        const int release = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(release, 0);
        reader.join();
        close(release);
    }
    EXPECT_GT(swaps.load(), 0);
    EXPECT_EQ(woken.load(), 0) << "the FIFO was opened after " << results.size() << " recordings";
    for (const int result : results)
        EXPECT_TRUE(result == 0 || result == CAMERA_STATUS_FILE_OPEN_FAILED) << result;
}

// A file is renamed only over a regular file or nothing: a FIFO that takes the name's place
// while the file is written, up to the rename itself, stays (the file is refused instead).
TEST_F(SaveTarget, AFifoSwappedInBeforeTheRenameIsNotReplaced) {
    const std::string name = m_dir / "shot.raw";
    const std::string other = m_dir / "other";
    WriteAll(name, std::vector<uint8_t>(100, 0x22));
    ASSERT_EQ(mkfifo(other.c_str(), 0666), 0);
    // Held by descriptor: a FIFO that was replaced has no name left.
    const int fifo = open(other.c_str(), O_PATH | O_CLOEXEC);
    ASSERT_GE(fifo, 0);
    const auto fifoNames = [fifo] {
        struct stat st {};
        return fstat(fifo, &st) == 0 ? st.st_nlink : 0;
    };
    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::vector<int> results;
    {
        // The name is the regular file and the FIFO in turn, each swap atomic.
        std::jthread swapper([&] {
            while (!stop.load()) {
                if (renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE) !=
                    0)
                    break;
                swaps.fetch_add(1);
            }
        });
        for (int waited = 0; swaps.load() == 0 && waited < 60000; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int round = 0; round < 20000 && fifoNames() == 1; ++round)
            results.push_back(Save(m_dir / "shot", kFormats[2]));
        stop = true;
    }
    EXPECT_GT(swaps.load(), 0);
    EXPECT_EQ(fifoNames(), 1u) << "the FIFO was replaced after " << results.size() << " saves";
    close(fifo);
    for (const int result : results)
        EXPECT_TRUE(result == 0 || result == CAMERA_STATUS_FAILED ||
                    result == CAMERA_STATUS_IO_ERROR)
            << result;
    for (const std::string& name : m_dir.Names()) EXPECT_NE(name[0], '.') << name;
}

// A FIFO that comes under a recording's name where nothing was, between the look and the open,
// is not opened (the recording refuses it or makes its file before the FIFO comes).
TEST_F(SaveTarget, ARecordingNeverOpensAFifoComingWhereNothingWas) {
    const std::string fifo = m_dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    // The reader's own name for the FIFO, which stays while the other one moves.
    const std::string readerName = m_dir / "reader";
    ASSERT_EQ(link(fifo.c_str(), readerName.c_str()), 0);
    const std::string name = m_dir / "rec.avi";
    std::atomic<bool> stop{false};
    std::atomic<int> woken{0};
    std::atomic<int> moves{0};
    std::vector<int> results;
    {
        // Counts the opens of the FIFO for writing: each wakes this reader.
        std::jthread reader([&] {
            for (;;) {
                const int fd = open(readerName.c_str(), O_RDONLY | O_CLOEXEC);
                const bool stopped = stop.load();
                if (!stopped) woken.fetch_add(1);
                if (fd >= 0) close(fd);
                if (stopped || fd < 0) break;
            }
        });
        // The FIFO comes under the empty name and goes again, each move atomic; a recording
        // made there meanwhile is removed so that the name is empty again. Only this thread
        // moves the FIFO, so what it removes is never the FIFO.
        std::jthread mover([&] {
            while (!stop.load()) {
                if (renameat2(AT_FDCWD, fifo.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) !=
                    0) {
                    if (errno != EEXIST || unlink(name.c_str()) != 0) break;
                    continue;
                }
                if (rename(name.c_str(), fifo.c_str()) != 0) break;
                moves.fetch_add(1);
            }
        });
        for (int waited = 0; moves.load() == 0 && waited < 60000; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int round = 0; round < 5000 && woken.load() == 0; ++round) {
            const int result = Record(name);
            results.push_back(result);
            if (result == 0) m_control.CameraStopRecord();
        }
        stop = true;
        mover.join();
        // Wakes the reader for the last time; held until it has gone.
        const int release = open(readerName.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(release, 0);
        reader.join();
        close(release);
    }
    EXPECT_GT(moves.load(), 0);
    EXPECT_EQ(woken.load(), 0) << "the FIFO was opened after " << results.size() << " recordings";
    for (const int result : results)
        EXPECT_TRUE(result == 0 || result == CAMERA_STATUS_FILE_OPEN_FAILED) << result;
}

// A recording opens its file as opening the name would: with fs.protected_regular on, a regular
// file in a sticky world-writable folder that neither the recorder nor the folder's owner owns
// is refused (the kernel refuses to open it for a file that is to be created), also when it is a
// hard link to a third user's file; the bytes stay. The recorder's own file is taken.
TEST_F(SaveTarget, ARecordingKeepsTheProtectionOfFilesInASharedFolder) {
    LinkProtection protection('1', "/proc/sys/fs/protected_regular");
    if (!protection.Set()) GTEST_SKIP() << protection.Why();
    const std::string shared = m_dir / "shared";
    const std::string victim = m_dir / "victim";
    const std::vector<uint8_t> before(3000, 0x44);
    struct Row {
        const char* name;
        uid_t owner;
        bool hardLink;
        bool taken;
    };
    const Row rows[] = {
        {"another user's file", kOther, false, false},
        {"a hard link to another user's file", kOther, true, false},
        {"the recorder's own file", 0, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::create_directory(shared);
        ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
        fs::create_directory(victim);
        const std::string name = shared + "/rec.avi";
        const std::string file = row.hardLink ? victim + "/important" : name;
        WriteAll(file, before);
        ASSERT_EQ(chown(file.c_str(), row.owner, row.owner), 0);
        ASSERT_EQ(chmod(file.c_str(), 0666), 0);
        if (row.hardLink) {
            ASSERT_EQ(link(file.c_str(), name.c_str()), 0);
        }

        const int result = Record(name);
        if (result == 0) {
            EXPECT_EQ(m_control.CameraStopRecord(), 0);
        }
        EXPECT_EQ(result, row.taken ? 0 : CAMERA_STATUS_FILE_OPEN_FAILED);
        EXPECT_EQ(ReadAll(file) == before, !row.taken);
        fs::remove_all(shared);
        fs::remove_all(victim);
    }
}

// Where /proc is not mounted (a bare container, a chroot), a recording still goes to a file that
// is already there, directly or through a link, as to a new one.
TEST_F(SaveTarget, ARecordingOverAFileNeedsNoProc) {
    const std::string name = m_dir / "rec.avi";
    const std::string linked = m_dir / "link.avi";
    const std::string fresh = m_dir / "fresh.avi";
    WriteAll(name, std::vector<uint8_t>(100, 0x55));
    fs::create_symlink("rec.avi", linked);
    struct Outcome {
        bool unmounted = false;
        int fresh = -1;
        int existing = -1;
        int throughLink = -1;
    } outcome;
    // /proc goes away for one thread only: its own mount namespace, nothing shared back.
    std::thread([&] {
        if (unshare(CLONE_FS | CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            umount2("/proc", MNT_DETACH) != 0 || access("/proc/self", F_OK) == 0)
            return;
        outcome.unmounted = true;
        const auto record = [&](const std::string& path) {
            const int result = Record(path);
            if (result == 0) m_control.CameraStopRecord();
            return result;
        };
        outcome.fresh = record(fresh);
        outcome.existing = record(name);
        outcome.throughLink = record(linked);
    }).join();
    if (!outcome.unmounted) GTEST_SKIP() << "/proc cannot be taken away here";
    EXPECT_EQ(outcome.fresh, 0);
    EXPECT_EQ(outcome.existing, 0);
    EXPECT_EQ(outcome.throughLink, 0);
    const std::vector<uint8_t> after = ReadAll(name);
    ASSERT_GE(after.size(), 4u);
    EXPECT_EQ(std::string(after.begin(), after.begin() + 4), "RIFF");
    EXPECT_TRUE(fs::is_symlink(linked));
}

// Two cameras saving under one name at the same time both succeed, in every format, and the
// name, once there, always holds a whole file (a reader never finds it missing or empty).
TEST_F(SaveTarget, TwoSaversOfOneNameBothSucceed) {
    CameraControl second{nullptr};
    const TestFrame frames[] = {MakeFrame(64, 32, CAMERA_MEDIA_TYPE_MONO8, 1),
                                MakeFrame(64, 32, CAMERA_MEDIA_TYPE_MONO8, 2)};
    CameraControl* savers[] = {&m_control, &second};
    constexpr int kRounds = 300;
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.extension);
        const std::string base = m_dir / "same";
        const std::string name = base + format.extension;
        std::vector<int> failures[2];
        std::atomic<bool> stop{false};
        std::atomic<int> broken{0};
        {
            // Reads the name while both save: once there, it is never gone or empty.
            std::jthread reader([&] {
                bool there = false;
                while (!stop.load()) {
                    const bool found = !ReadAll(name).empty();
                    if (there && !found) broken.fetch_add(1);
                    there = there || found;
                }
            });
            std::vector<std::jthread> threads;
            for (int s = 0; s < 2; ++s)
                threads.emplace_back([&, s] {
                    for (int round = 0; round < kRounds; ++round) {
                        const int result = savers[s]->CameraSaveImage(
                            base.c_str(), const_cast<BYTE*>(frames[s].bytes.data()),
                            const_cast<stImageInfo*>(&frames[s].head), format.type, 90);
                        if (result != 0) failures[s].push_back(result);
                    }
                });
            threads.clear();  // joins the savers
            stop = true;
        }
        for (int s = 0; s < 2; ++s)
            EXPECT_TRUE(failures[s].empty())
                << "saver " << s << ": " << failures[s].size() << " of " << kRounds
                << " saves failed, the first with "
                << (failures[s].empty() ? 0 : failures[s].front());
        EXPECT_EQ(broken.load(), 0);
        EXPECT_TRUE(filetest::Exists(name));
        for (const std::string& left : m_dir.Names()) EXPECT_NE(left[0], '.') << left;
        fs::remove(name);
    }
}

}  // namespace
