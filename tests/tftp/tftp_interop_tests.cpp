// Interoperability with a TFTP client nobody here wrote: the system's `tftp` command.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/tftp/tftp_server_fixture.h"

using namespace testing_support;

namespace {

class ClientInterop : public TftpServerTest {
  protected:
    void SetUp() override {
        if (std::system("command -v tftp >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "no tftp client on PATH (Debian package tftp-hpa)";
        TftpServerTest::SetUp();
    }
    int RunClient(const std::string& command) {
        const std::string line = "tftp -m octet 127.0.0.1 " + std::to_string(port) + " -c " +
                                 command + " >/dev/null 2>&1";
        return std::system(line.c_str());
    }
};

}  // namespace

TEST_F(ClientInterop, GetDownloadsTheLoadedImageByteExact) {
    const std::string image = PatternText(70000);  // 137 blocks, the last one short
    LoadImage(image);
    StartServer();
    const std::string out = dir + "/fetched";
    EXPECT_EQ(RunClient("get image " + out), 0);
    EXPECT_EQ(FinishRun().Result, TftpRunResult::FileServed);
    EXPECT_EQ(ReadWholeFile(out), image);
}

TEST_F(ClientInterop, PutUploadsWithLineFeedsConverted) {
    std::string text, stored;
    for (int i = 0; i < 200; ++i) {
        text += "set item " + std::to_string(i) + "\n";
        stored += "set item " + std::to_string(i) + "\r\n";
    }
    const std::string local = dir + "/changes.txt";
    WriteWholeFile(local, text);
    StartServer();
    EXPECT_EQ(RunClient("put " + local + " upload-image"), 0);
    EXPECT_EQ(FinishRun().Result, TftpRunResult::FileStored);
    EXPECT_EQ(TargetFileText(), stored);
}
