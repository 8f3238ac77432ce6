// Who may read a backup: the device's configuration holds its passwords. A new backup is its
// owner's alone; one that replaces a file keeps that file's mode, owner and group; and the
// temporary file has that mode before the first byte lands in it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/config_file_hooks.h"
#include "platform/fault_injection.h"
#include "spine/shared_state.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

struct Previous {
    bool exists;
    mode_t mode;
    bool foreignOwner;  // owned by another user and group (needs root to arrange)
};

struct Case {
    const char* what;
    Previous previous;
    mode_t expected;
};

constexpr uid_t kForeignUser = 4242;
constexpr gid_t kForeignGroup = 4343;

const Case kCases[] = {
    {"a new backup", {false, 0, false}, 0600},
    {"over a private file", {true, 0600, false}, 0600},
    {"over a file others may read", {true, 0644, false}, 0644},
    {"over a read-only file", {true, 0440, false}, 0440},
    {"over another user's file", {true, 0640, true}, 0640},
};

int Upload(const std::string& bytes, int packetLength, int block) {
    std::uint32_t written = 0;
    return UploadConfig(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                        static_cast<int>(bytes.size()), &written, packetLength, block);
}

struct stat StatOf(const std::string& path) {
    struct stat st{};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

}  // namespace

TEST(BackupPermissions, NewPrivateOrAsTheReplacedFileFromTheFirstByte) {
    plat::ClearInjectedFailures();
    LogCapture log;
    const mode_t oldMask = ::umask(0);  // the mode must not depend on the caller's mask
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        if (c.previous.foreignOwner && ::geteuid() != 0) continue;  // cannot hand a file over
        const std::string dir = MakeTempDir(), target = dir + "/backup.cfg";
        SetTargetPath(target.c_str());
        if (c.previous.exists) {
            WriteWholeFile(target, "previous");
            ASSERT_EQ(::chmod(target.c_str(), c.previous.mode), 0);
            if (c.previous.foreignOwner) {
                ASSERT_EQ(::chown(target.c_str(), kForeignUser, kForeignGroup), 0);
            }
        }

        ASSERT_EQ(Upload(std::string(512, 'a'), 516, 1), 1);
        EXPECT_EQ(StatOf(target + kTemporarySuffix).st_mode & 07777, c.expected);
        ASSERT_EQ(Upload("end", 7, 2), 1);
        const struct stat st = StatOf(target);
        EXPECT_EQ(st.st_mode & 07777, c.expected);
        EXPECT_EQ(st.st_uid, c.previous.foreignOwner ? kForeignUser : ::geteuid());
        EXPECT_EQ(st.st_gid, c.previous.foreignOwner ? kForeignGroup : ::getegid());
        EXPECT_EQ(ReadWholeFile(target), std::string(512, 'a') + "end");
        std::filesystem::remove_all(dir);
    }
    ::umask(oldMask);
}
