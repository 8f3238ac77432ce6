// The temporary files in progress: what a command that gave up on a transfer leaves behind is
// removed at its end, and the transfer that goes on afterwards stores nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/config_file_hooks.h"
#include "app/temporary_files.h"
#include "platform/fault_injection.h"
#include "tests/support/test_support.h"

namespace testing_support {
namespace {

TEST(TemporaryFiles, ACommandsEndRemovesWhatALateTransferWasWriting) {
    const std::string dir = MakeTempDir();
    const std::string target = dir + "/site.cfg";
    const std::string part = target + kTemporarySuffix;
    WriteWholeFile(target, "old\r\n");
    const std::string block(512, 'x');
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(block.data());

    // The transfer is still running when the command ends.
    plat::FileHandle file = plat::kNoFile;
    BackupFileWriter late{file, {}, {}};
    ASSERT_EQ(StoreBackupBlock(late, target, bytes, 512, nullptr, 516, 1), 1);
    ASSERT_TRUE(std::filesystem::exists(part));
    // (On Windows a removed file that is still open goes once its writer lets go of it.)
    RemoveTemporaryFiles();
    EXPECT_EQ(StoreBackupBlock(late, target, bytes, 10, nullptr, 14, 2), 0);
    EXPECT_EQ(ReadWholeFile(target), "old\r\n");
    EXPECT_FALSE(std::filesystem::exists(part));

    // A rename that fails leaves the file registered until it is removed.
    plat::FileHandle other = plat::kNoFile;
    BackupFileWriter failing{other, {}, {}};
    ASSERT_EQ(StoreBackupBlock(failing, target, bytes, 512, nullptr, 516, 1), 1);
    plat::InjectFailure(plat::Op::FileReplace);
    EXPECT_FALSE(ReplaceWithTemporaryFile(part, target));
    plat::ClearInjectedFailures();
    RemoveTemporaryFiles();
    EXPECT_EQ(StoreBackupBlock(failing, target, bytes, 10, nullptr, 14, 2), 0);
    EXPECT_FALSE(std::filesystem::exists(part));
    EXPECT_EQ(ReadWholeFile(target), "old\r\n");
}

}  // namespace
}  // namespace testing_support
