// What a backup does with each kind of node at its target: a symbolic link is followed to the
// file it names; anything that is not a regular file, or a folder where no file can be made, is
// refused before the device is asked for anything, and left exactly as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "app/config_file_hooks.h"
#include "tests/app/command_fixture.h"

namespace testing_support {
namespace {

using BackupTarget = CommandAgainstSimulator;

TEST_F(BackupTarget, ALinkIsFollowedAndWhatIsNoRegularFileIsRefusedUntouched) {
    struct Case {
        const char* name;
        std::function<std::string(const std::string& dir)> make;  // the target to back up into
        const char* refusal;  // in the box; nullptr when the backup goes through
        const char* stored;   // completed: the file (in dir) that holds the backup
    };
    const auto link = [](const std::string& to, const std::string& at) {
        EXPECT_EQ(::symlink(to.c_str(), at.c_str()), 0) << at;
        return at;
    };
    const Case cases[] = {
        {"a chain of relative links",
         [&](const std::string& d) {
             ::mkdir((d + "/sub").c_str(), 0700);
             WriteWholeFile(d + "/sub/real.cfg", "old text\r\n");
             link("real.cfg", d + "/sub/hop");  // read against sub/, where the link is
             return link("sub/hop", d + "/chain.cfg");
         },
         nullptr, "sub/real.cfg"},
        {"a dangling link", [&](const std::string& d) { return link("made.cfg", d + "/dangling.cfg"); },
         nullptr, "made.cfg"},
        {"a FIFO",
         [](const std::string& d) {
             EXPECT_EQ(::mkfifo((d + "/pipe.cfg").c_str(), 0600), 0);
             return d + "/pipe.cfg";
         },
         "It is a FIFO, not a regular file.", nullptr},
        {"a character device", [](const std::string&) { return std::string("/dev/null"); },
         "It is a character device, not a regular file.", nullptr},
        {"a link to a folder",
         [&](const std::string& d) {
             ::mkdir((d + "/folder").c_str(), 0700);
             return link(d + "/folder", d + "/to-folder.cfg");
         },
         ", which is a directory, not a regular file.", nullptr},
        {"a link loop",
         [&](const std::string& d) {
             link("loop-b.cfg", d + "/loop-a.cfg");
             return link("loop-a.cfg", d + "/loop-b.cfg");
         },
         "Its symbolic link cannot be followed: Too many levels of symbolic links.", nullptr},
        {"a missing folder", [](const std::string& d) { return d + "/no-such-folder/x.cfg"; },
         "No file can be created in its folder: No such file or directory.", nullptr},
        {"an unwritable folder",
         [](const std::string& d) {
             ::mkdir((d + "/locked").c_str(), 0500);
             return d + "/locked/x.cfg";
         },
         "No file can be created in its folder: Permission denied.", nullptr},
    };

    options.FactoryText = "hostname followed\n";
    StartDevice();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "an unwritable folder" && ::geteuid() == 0) continue;
        const std::string target = c.make(dir);
        const plat::NodeKind before = plat::NodeKindAt(target.c_str(), false);
        const std::size_t requestsBefore = DeviceRequests().size();
        dialog.boxes.clear();
        dialog.focusChanges.clear();
        RunBackup(target);

        EXPECT_EQ(plat::NodeKindAt(target.c_str(), false), before);  // a link stays a link
        if (c.refusal == nullptr) {
            EXPECT_EQ(report.Result, CommandResult::Completed);
            EXPECT_EQ(ReadWholeFile(dir + "/" + c.stored), "hostname followed\r\n");
            EXPECT_FALSE(plat::FileExists((dir + "/" + c.stored + kTemporarySuffix).c_str()));
            continue;
        }
        EXPECT_EQ(report.Result, CommandResult::FileUnusable);
        EXPECT_EQ(DeviceRequests().size(), requestsBefore);  // not even probed
        EXPECT_EQ(OnlyBox().caption, "Backup not started");
        EXPECT_EQ(OnlyBox().text.rfind("The configuration cannot be backed up to: \r\n\t" + target +
                                           "\r\n",
                                       0),
                  0u);
        EXPECT_NE(OnlyBox().text.find(c.refusal), std::string::npos) << OnlyBox().text;
        EXPECT_EQ(dialog.focusChanges, std::vector<int>{IDC_FILENAME});
    }
}

// What stands at the target is checked again when the first block arrives: a FIFO put there after
// the command's check is named as the cause, not whatever the system said last.
TEST_F(BackupTarget, AFifoThatAppearsBeforeTheFirstBlockIsTheCause) {
    const std::string target = dir + "/late.cfg";
    ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
    plat::FileHandle file = plat::kNoFile;
    BackupFileWriter writer{file, {}, {}};
    const std::uint8_t text[] = {'x', '\n'};
    EXPECT_EQ(StoreBackupBlock(writer, target, text, 2, nullptr, 6, 1), 0);
    EXPECT_EQ(CauseLine(writer.failure), target + ": open: it is a FIFO, not a regular file");
    EXPECT_EQ(plat::NodeKindAt(target.c_str(), false), plat::NodeKind::Fifo);
}

}  // namespace
}  // namespace testing_support
