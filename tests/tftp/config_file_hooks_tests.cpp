// The file work behind the TFTP hooks: request checks, the image served block by block, the
// loader, and the backup file that replaces the previous one only when complete.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/config_file_hooks.h"
#include "app/events.h"
#include "app/shared_state.h"
#include "app/transfer_hooks.h"
#include "platform/fault_injection.h"
#include "tests/support/test_support.h"
#include "tests/tftp/tftp_server_fixture.h"

using namespace testing_support;

namespace {

class ConfigFileHooks : public ::testing::Test {
protected:
    void SetUp() override {
        plat::ClearInjectedFailures();
        RegisterTransferHooks(CheckFilename, DownloadConfig, UploadConfig, nullptr, nullptr);
        InstallRecordingReporters();
        ClearRecordedEvents();
        InstallBeepCounter();
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

int Check(const std::string& body, int kind) {
    const auto* start = reinterpret_cast<const std::uint8_t*>(body.data());
    return CheckFilename(start, start + body.size(), kind);
}

}  // namespace

TEST_F(ConfigFileHooks, CheckFilenameAcceptsOnlyTheDirectionsNameInOctet) {
    using namespace std::string_literals;
    struct Case {
        std::string body;
        int kind;
        int result;
        const char* line;
    };
    const Case cases[] = {
        {"image\0octet\0"s, 1, 1, nullptr},
        {"upload-image\0octet\0blksize\0001468\0"s, 2, 1, nullptr},
        {"image\0octet\0"s, 2, 0, "CheckFilename:354 - Bad image name requested.\n"},
        {"IMAGE\0octet\0"s, 1, 0, "CheckFilename:346 - Bad image name requested.\n"},
        {"images\0octet\0"s, 1, 0, "CheckFilename:346"},
        {"image\0OCTET\0"s, 1, 0, "CheckFilename:378 - Bad transfer mode requested.\n"},
        {"image\0Octet\0"s, 1, 0, "CheckFilename:378"},
        {"image\0"s, 1, 0, "CheckFilename:374 - Could not find transfer mode in request.\n"},
        {"image\0octet"s, 1, 0, "CheckFilename:374"},
        {"image"s, 1, 0, "CheckFilename:338 - Could not find filename in request.\n"},
        {""s, 2, 0, "CheckFilename:338"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        log.Clear();
        EXPECT_EQ(Check(c.body, c.kind), c.result);
        if (c.line) EXPECT_TRUE(log.Contains(c.line));
        else EXPECT_EQ(log.Text(), "");
    }
}

TEST_F(ConfigFileHooks, DownloadConfigHandsOutTheImageInBlocksEndingWithAShortOne) {
    struct Case {
        std::size_t size;
        std::vector<std::uint32_t> lengths;
    };
    const Case cases[] = {{0, {0}}, {1000, {512, 488}}, {1024, {512, 512, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string image = PatternText(c.size);
        ASSERT_TRUE(Load(image));
        std::string served;
        std::vector<std::uint32_t> lengths;
        std::uint32_t number = 0;
        std::uint8_t block[513];
        do {
            std::uint32_t length = 99;
            block[512] = 0xEE;
            ASSERT_EQ(DownloadConfig(block, &length, &number, 512), 1);
            EXPECT_EQ(number, lengths.size() + 1);
            EXPECT_EQ(block[512], 0xEE) << "wrote past the block";
            lengths.push_back(length);
            served.append(reinterpret_cast<const char*>(block), length);
        } while (lengths.back() == 512);
        EXPECT_EQ(lengths, c.lengths);
        EXPECT_EQ(served, image);
    }
}

TEST_F(ConfigFileHooks, DownloadConfigWithoutAnImageSuppliesNothing) {
    {
        std::lock_guard lock(SharedRecordLock);
        delete[] FileImage.Data;
        FileImage = FileImageRecord{};
    }
    std::uint8_t block[512];
    std::uint32_t length = 0, number = 0;
    EXPECT_EQ(DownloadConfig(block, &length, &number, 512), 0);
    EXPECT_EQ(number, 0u);
    EXPECT_TRUE(log.Contains("DownloadConfig:419 - FileImage.Data is NULL.\n"));
    ASSERT_TRUE(Load("x"));
    EXPECT_EQ(DownloadConfig(block, &length, &number, 512), 1);
}

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

TEST_F(ConfigFileHooks, UploadReplacesThePreviousBackupOnlyWithTheLastBlock) {
    WriteWholeFile(target, "previous backup");
    const std::string first(512, 'a'), second(88, 'b');
    EXPECT_EQ(Upload(first, 516, 1), 1);
    EXPECT_EQ(ReadWholeFile(target), "previous backup");
    EXPECT_EQ(Upload(second, 92, 2), 1);
    EXPECT_EQ(ReadWholeFile(target), first + second);
    EXPECT_FALSE(std::filesystem::exists(target + ".part"));

    EXPECT_EQ(Upload("", 4, 1), 1) << "an empty text is a backup too";
    EXPECT_EQ(ReadWholeFile(target), "");
}

TEST_F(ConfigFileHooks, AnAbandonedUploadLeavesThePreviousBackupAndNothingElse) {
    WriteWholeFile(target, "previous backup");
    WriteWholeFile(target + ".part", "stale leftover");
    EXPECT_EQ(Upload(std::string(512, 'a'), 516, 1), 1);
    EXPECT_NE(TargetFile, plat::kNoFile);
    EXPECT_EQ(Upload("", 0, 0), 1);
    EXPECT_EQ(TargetFile, plat::kNoFile);
    EXPECT_EQ(ReadWholeFile(target), "previous backup");
    EXPECT_FALSE(std::filesystem::exists(target + ".part"));
}

TEST_F(ConfigFileHooks, AnUploadIntoAMissingFolderBeepsAndStoresNothing) {
    const std::string missing = dir + "/nowhere/backup.cfg";
    SetTargetPath(missing.c_str());
    EXPECT_EQ(Upload("text", 8, 1), 0);
    EXPECT_EQ(BeepsSounded(), 1);
    EXPECT_FALSE(std::filesystem::exists(dir + "/nowhere"));
}
