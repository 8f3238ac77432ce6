// The texts, captions and flags of the commands' message boxes.
#pragma once

#include "platform/dialog_toolkit.h"

struct MessageBoxText {
    const char* text;  // may hold one %s
    const char* caption;
    unsigned flags;
};

inline constexpr unsigned kErrorBox = plat::kMbOk | plat::kMbIconError;

namespace command_text {

inline constexpr MessageBoxText kPortWarning{
    "There seems to be another TFTP server running.\nThis may interfere with your configuration "
    "backup.",
    "Morvane TFTP Warning", kErrorBox};
inline constexpr MessageBoxText kNoBackupHost{
    "You do not seem to have specified an Tavio to Backup.\nPlease enter the Tavio's IP Address.",
    "Error: No IP Address.", kErrorBox};
inline constexpr MessageBoxText kNoRestoreHost{
    "You do not seem to have specified an Tavio to Restore.\nPlease enter the Tavio's IP Address.",
    "Error: No IP Address.", kErrorBox};
inline constexpr MessageBoxText kNoUserName{
    "You do not seem to have specified a username.\nPlease enter a priviledged user account on the "
    "Tavio.",
    "Error: No username.", kErrorBox};
inline constexpr MessageBoxText kNoFileName{
    "You do not seem to have specified a filneme. Do you wish browse for one now?",
    "Error opening file.", plat::kMbYesNoCancel | plat::kMbIconInformation};
inline constexpr MessageBoxText kUnreadableFile{
    "The file \"%s\" could not be opened. \r\n Please check the filename.", "Error opening file.",
    kErrorBox};
inline constexpr MessageBoxText kNotTavio{
    "'%s' does not seem to be a Drennick Tavio.\r\nPlease check IP Addres is correct.",
    "Check for Tavio Failed", kErrorBox};
inline constexpr MessageBoxText kUnsupportedBackup{
    "'%s' is a Drennick Merrowin II.\r\nMorvane is not designed to extract configurations from the "
    "Merrowin II.\nPlease consult your documentation for further information",
    "Check for Tavio Failed", kErrorBox};
inline constexpr MessageBoxText kUnsupportedRestore{
    "'%s' is a Drennick Merrowin II.\r\nMorvane is not designed to upload configurations into the "
    "Merrowin II.\nPlease consult your documentation for further information",
    "Check for Tavio Failed", kErrorBox};
inline constexpr MessageBoxText kFactoryQuestion{
    "Do you want Morvane to erase the current Tavio configuration prior to uploading the new "
    "configuration file?\r\n(ie. Reset to factory defaults before restoring')",
    "Initialise factory defaults first?", plat::kMbYesNo | plat::kMbIconQuestion};
inline constexpr MessageBoxText kBackupComplete{
    "The configuration has been backed up to: \r\n\t%s", "Backup complete",
    plat::kMbOk | plat::kMbIconInformation};
inline constexpr MessageBoxText kBackupFailed{
    "The configuration could not be backed up to: \r\n\t%s\r\nThe file has not been changed.",
    "Backup failed", kErrorBox};
inline constexpr MessageBoxText kRestoreComplete{
    "The configuration has been restored.\r\nThe server will be ready when it has completed "
    "rebooting",
    "Restore complete", plat::kMbOk | plat::kMbIconInformation};
inline constexpr MessageBoxText kRestoreFailed{
    "The device did not receive the whole configuration file.\r\nIt has not been rebooted; please "
    "check its configuration before you try again.",
    "Restore failed", kErrorBox};

}  // namespace command_text
