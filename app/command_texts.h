// The commands' message boxes: the identity, text, caption and flags of each.
#pragma once

#include "platform/dialog_toolkit.h"

// Every box a command shows has an identity of its own, passed to the toolkit with the box. A
// front end that answers without an operator (the command-line tool) answers a question by it,
// never by the box's buttons, so that each question keeps its own answer.
enum class CommandBox : int {
    PortWarning = 1,
    NoBackupHost,
    NoRestoreHost,
    NoUserName,
    NoFileName,  // question: browse for a file now?
    UnreadableFile,
    NotTavio,
    UnsupportedBackup,
    UnsupportedRestore,
    FactoryQuestion,  // question: reset to factory defaults before restoring?
    BackupComplete,
    BackupFailed,
    RestoreComplete,
    RestoreFailed,
    RestoreUnconfirmed,
    BackupTargetUnusable,  // the chosen file cannot be written or replaced; nothing was asked
    UnusableRestoreFile,
};

struct MessageBoxText {
    CommandBox id;
    const char* text;  // may hold one %s
    const char* caption;
    unsigned flags;
};

inline constexpr unsigned kErrorBox = plat::kMbOk | plat::kMbIconError;

namespace command_text {

inline constexpr MessageBoxText kPortWarning{
    CommandBox::PortWarning,
    "There seems to be another TFTP server running.\nThis may interfere with your configuration "
    "backup.",
    "Morvane TFTP Warning", kErrorBox};
inline constexpr MessageBoxText kNoBackupHost{
    CommandBox::NoBackupHost,
    "You do not seem to have specified an Tavio to Backup.\nPlease enter the Tavio's IP Address.",
    "Error: No IP Address.", kErrorBox};
inline constexpr MessageBoxText kNoRestoreHost{
    CommandBox::NoRestoreHost,
    "You do not seem to have specified an Tavio to Restore.\nPlease enter the Tavio's IP Address.",
    "Error: No IP Address.", kErrorBox};
inline constexpr MessageBoxText kNoUserName{
    CommandBox::NoUserName,
    "You do not seem to have specified a username.\nPlease enter a priviledged user account on the "
    "Tavio.",
    "Error: No username.", kErrorBox};
inline constexpr MessageBoxText kNoFileName{
    CommandBox::NoFileName,
    "You do not seem to have specified a filneme. Do you wish browse for one now?",
    "Error opening file.", plat::kMbYesNoCancel | plat::kMbIconInformation};
inline constexpr MessageBoxText kUnreadableFile{
    CommandBox::UnreadableFile,
    "The file \"%s\" could not be opened. \r\n Please check the filename.", "Error opening file.",
    kErrorBox};
inline constexpr MessageBoxText kNotTavio{
    CommandBox::NotTavio,
    "'%s' does not seem to be a Drennick Tavio.\r\nPlease check IP Addres is correct.",
    "Check for Tavio Failed", kErrorBox};
inline constexpr MessageBoxText kUnsupportedBackup{
    CommandBox::UnsupportedBackup,
    "'%s' is a Drennick Merrowin II.\r\nMorvane is not designed to extract configurations from the "
    "Merrowin II.\nPlease consult your documentation for further information",
    "Check for Tavio Failed", kErrorBox};
inline constexpr MessageBoxText kUnsupportedRestore{
    CommandBox::UnsupportedRestore,
    "'%s' is a Drennick Merrowin II.\r\nMorvane is not designed to upload configurations into the "
    "Merrowin II.\nPlease consult your documentation for further information",
    "Check for Tavio Failed", kErrorBox};
inline constexpr MessageBoxText kFactoryQuestion{
    CommandBox::FactoryQuestion,
    "Do you want Morvane to erase the current Tavio configuration prior to uploading the new "
    "configuration file?\r\n(ie. Reset to factory defaults before restoring')",
    "Initialise factory defaults first?", plat::kMbYesNo | plat::kMbIconQuestion};
inline constexpr MessageBoxText kBackupComplete{
    CommandBox::BackupComplete,
    "The configuration has been backed up to: \r\n\t%s", "Backup complete",
    plat::kMbOk | plat::kMbIconInformation};
inline constexpr MessageBoxText kBackupFailed{
    CommandBox::BackupFailed,
    "The configuration could not be backed up to: \r\n\t%s\r\nThe file has not been changed.",
    "Backup failed", kErrorBox};
inline constexpr MessageBoxText kRestoreComplete{
    CommandBox::RestoreComplete,
    "The configuration has been restored.\r\nThe server will be ready when it has completed "
    "rebooting",
    "Restore complete", plat::kMbOk | plat::kMbIconInformation};
inline constexpr MessageBoxText kRestoreFailed{
    CommandBox::RestoreFailed,
    "The device did not receive the whole configuration file.\r\nIt has not been rebooted; please "
    "check its configuration before you try again.",
    "Restore failed", kErrorBox};
// Every block went out, but the device's last acknowledgement never came: whether it has the
// whole file cannot be known here.
inline constexpr MessageBoxText kRestoreUnconfirmed{
    CommandBox::RestoreUnconfirmed,
    "The device was sent the whole configuration file, but it never acknowledged the last part, "
    "so it is not known whether the device has it all.\r\nIt has not been rebooted; please check "
    "its configuration before you reboot it or try again.",
    "Restore not confirmed", kErrorBox};
// Checked before the device is asked for anything: %s is the chosen file, a line end and why it
// cannot be used.
inline constexpr MessageBoxText kBackupTargetUnusable{
    CommandBox::BackupTargetUnusable,
    "The configuration cannot be backed up to: \r\n\t%s\r\nThe device has not been asked for it.",
    "Backup not started", kErrorBox};

// The restore file is empty or not a configuration text; the fill names the file and says why.
inline constexpr MessageBoxText kUnusableRestoreFile{
    CommandBox::UnusableRestoreFile,
    "The file %s.\r\nIt has not been sent to the Tavio; please check that you chose a "
    "configuration file.",
    "Error opening file.", kErrorBox};

}  // namespace command_text
