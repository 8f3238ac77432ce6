// The file work behind the TFTP hooks that the transfers do not show: the loader's failures, and
// the backup file that replaces the previous one only when complete.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/config_file_hooks.h"
#include "platform/fault_injection.h"
#include "spine/shared_state.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

class ConfigFileHooks : public ::testing::Test {
  protected:
    void SetUp() override {
        plat::ClearInjectedFailures();
        dir = MakeTempDir();
        target = dir + "/backup.cfg";
        SetTargetPath(target.c_str());
    }
    void TearDown() override {
        plat::ClearInjectedFailures();
        EXPECT_EQ(TargetFile, plat::kNoFile);
        std::filesystem::remove_all(dir);
    }
    bool Load(const std::string& bytes) {
        const std::string path = dir + "/image.cfg";
        WriteWholeFile(path, bytes);
        return LoadFileImage(path.c_str()) == 1;
    }
    int Upload(const std::string& bytes, int packetLength, int block) {
        std::uint32_t written = 0;
        return UploadConfig(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                            static_cast<int>(bytes.size()), &written, packetLength, block);
    }
    static std::uint32_t ImageSize() {
        std::lock_guard lock(SharedRecordLock);
        return FileImage.Size;
    }
    static bool ImageLoaded() {
        std::lock_guard lock(SharedRecordLock);
        return FileImage.Data != nullptr;
    }

    std::string dir, target;
    LogCapture log;
};

}  // namespace

TEST_F(ConfigFileHooks, LoadFileImageKeepsOrEmptiesTheImageAsTheFailureRequires) {
    struct Case {
        const char* what;
        plat::Op op;  // Op::Count_: no injection
        bool tooLarge;
        bool imageKept;
        const char* line;
    };
    const Case cases[] = {
        {"cannot open", plat::Op::FileOpenRead, false, true, "Error in CreateFile() call\n"},
        {"cannot size", plat::Op::FileSize, false, true, "Error in GetFileSize() call\n"},
        {"65535 blocks", plat::Op::Count_, true, true, "cannot be served"},
        {"no memory", plat::Op::Alloc, false, false, "Error in ReadFile() call\n"},
        {"read fails", plat::Op::FileRead, false, false, "Error in ReadFile() call\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(Load("previous"));
        const std::string path = dir + "/next.cfg";
        WriteWholeFile(path, "next image");
        if (c.tooLarge) std::filesystem::resize_file(path, kImageSizeLimit);
        if (c.op != plat::Op::Count_) plat::InjectFailure(c.op);
        log.Clear();
        EXPECT_EQ(LoadFileImage(path.c_str()), 0);
        plat::ClearInjectedFailures();
        EXPECT_TRUE(log.Contains(c.line));
        EXPECT_EQ(ImageLoaded(), c.imageKept);
        EXPECT_EQ(ImageSize(), c.imageKept ? 8u : 0u);
    }
    // One byte less than the limit still fits into 65535 blocks.
    const std::string path = dir + "/largest.cfg";
    WriteWholeFile(path, "");
    std::filesystem::resize_file(path, kImageSizeLimit - 1);
    EXPECT_EQ(LoadFileImage(path.c_str()), 1);
    EXPECT_EQ(ImageSize(), kImageSizeLimit - 1);
    ASSERT_TRUE(Load(""));
    EXPECT_TRUE(ImageLoaded()) << "an empty file is an image too";
    EXPECT_TRUE(log.Contains("Filename is \"" + dir + "/image.cfg\"\nThe file size is 0 bytes\n"));
}

TEST_F(ConfigFileHooks, UploadReplacesThePreviousBackupOnlyWithACompleteText) {
    WriteWholeFile(target, "previous backup");
    WriteWholeFile(target + kTemporarySuffix, "stale leftover of a crash");
    const std::string first(512, 'a'), second(88, 'b');
    EXPECT_EQ(Upload(first, 516, 1), 1);
    EXPECT_EQ(ReadWholeFile(target), "previous backup");
    EXPECT_EQ(Upload("", 0, 0), 1);  // abandoned
    EXPECT_EQ(TargetFile, plat::kNoFile);
    EXPECT_EQ(ReadWholeFile(target), "previous backup");
    EXPECT_FALSE(std::filesystem::exists(target + kTemporarySuffix));

    EXPECT_EQ(Upload(first, 516, 1), 1);
    EXPECT_EQ(Upload(second, 92, 2), 1);
    EXPECT_EQ(ReadWholeFile(target), first + second);
    EXPECT_FALSE(std::filesystem::exists(target + kTemporarySuffix));
    EXPECT_EQ(Upload("", 4, 1), 1) << "an empty text is a backup too";
    EXPECT_EQ(ReadWholeFile(target), "");
}

// The text is written in chunks: one that spans several of them arrives whole, and a chunk the
// file does not take fails the block that filled it, leaving the previous backup as it was.
TEST_F(ConfigFileHooks, ALongUploadIsStoredWholeOrNotAtAll) {
    const int blocks = 3 * static_cast<int>(kBackupWriteChunk / 512) + 7;
    const int fullBlocks = static_cast<int>(kBackupWriteChunk / 512);
    std::string expected;
    for (const bool writeFails : {false, true}) {
        SCOPED_TRACE(writeFails ? "the second chunk is not taken" : "every chunk is taken");
        WriteWholeFile(target, "previous backup");
        if (writeFails) plat::InjectFailure(plat::Op::FileWrite, 1, 1);
        int failedAt = 0;
        expected.clear();
        for (int block = 1; block <= blocks && failedAt == 0; ++block) {
            const std::string bytes(block == blocks ? 100 : 512,
                                    static_cast<char>('a' + block % 26));
            expected += bytes;
            if (Upload(bytes, block == blocks ? 104 : 516, block) == 0) failedAt = block;
        }
        EXPECT_EQ(failedAt, writeFails ? 2 * fullBlocks : 0);
        EXPECT_EQ(ReadWholeFile(target), writeFails ? "previous backup" : expected);
        EXPECT_FALSE(std::filesystem::exists(target + kTemporarySuffix));
    }
}
