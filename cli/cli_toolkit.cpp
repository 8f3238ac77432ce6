#include "cli/cli_toolkit.h"

#include <cstring>
#include <map>

#include "app/command_texts.h"
#include "app/dialog_ids.h"
#include "cli/cli_reporting.h"
#include "spine/failure_cause.h"

namespace {

CliToolkitSetup answers;
std::map<int, std::string> fields;

int GetFieldText(plat::WindowRef, int id, char* text, int maxCount) {
    if (maxCount <= 0) return 0;
    const std::string& value = fields[id];
    const std::size_t n = std::min(value.size(), static_cast<std::size_t>(maxCount - 1));
    std::memcpy(text, value.data(), n);
    text[n] = '\0';
    return static_cast<int>(n);
}

bool SetFieldText(plat::WindowRef, int id, const char* text) {
    fields[id] = text;
    return true;
}

void FocusControl(plat::WindowRef, int) {}

std::string WithoutCarriageReturns(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p)
        if (*p != '\r') out.push_back(*p);
    return out;
}

// The answer to a question, by the question's identity. A question this tool does not know is
// declined: it never takes the answer meant for another. Every box is listed, so that the
// compiler points here when a box is added.
int AnswerQuestion(int identity) {
    switch (static_cast<CommandBox>(identity)) {
        case CommandBox::FactoryQuestion:
            return answers.factoryReset ? plat::kIdYes : plat::kIdNo;
        case CommandBox::NoFileName:  // the file is named on the command line, or not at all
        case CommandBox::PortWarning:
        case CommandBox::NoBackupHost:
        case CommandBox::NoRestoreHost:
        case CommandBox::NoUserName:
        case CommandBox::UnreadableFile:
        case CommandBox::NotTavio:
        case CommandBox::UnsupportedBackup:
        case CommandBox::UnsupportedRestore:
        case CommandBox::BackupComplete:
        case CommandBox::BackupFailed:
        case CommandBox::RestoreComplete:
        case CommandBox::RestoreFailed:
        case CommandBox::RestoreUnconfirmed:
        case CommandBox::BackupTargetUnusable:
        case CommandBox::UnusableRestoreFile:
            break;
    }
    return plat::kIdNo;
}

// The boxes that only restate a failure whose cause the command's one line names: shown with
// --verbose alone once such a cause is known.
bool RestatesTheCause(int identity) {
    switch (static_cast<CommandBox>(identity)) {
        case CommandBox::NotTavio:
        case CommandBox::PortWarning:
        case CommandBox::BackupTargetUnusable:
            return !LatestUnboundFailure().Empty();
        default:
            return false;
    }
}

int ShowMessageBox(plat::WindowRef, const char* text, const char* caption, unsigned flags,
                   int identity) {
    DeliverHandedOverReports();  // a report made before the box is written before it
    const unsigned buttons = flags & 0xF;
    const int answer = buttons == plat::kMbOk ? plat::kIdOk : AnswerQuestion(identity);
    std::string line = std::string(caption) + ": " + WithoutCarriageReturns(text);
    if (buttons == plat::kMbYesNo || buttons == plat::kMbYesNoCancel)
        line += answer == plat::kIdYes ? " -> Yes" : " -> No";
    const bool error = (flags & 0xF0u) == plat::kMbIconError;
    if (error) KeepFailureText(line);
    if (answers.verbose || (error && !RestatesTheCause(identity)))
        answers.io->writeErr(line + "\n");
    return answer;
}

void SoundBeep(unsigned) {}

bool RunFileDialog(plat::WindowRef, const plat::FileDialogSettings&, char* path,
                   std::size_t capacity) {
    if (answers.file.empty() || answers.file.size() >= capacity) return false;
    std::memcpy(path, answers.file.c_str(), answers.file.size() + 1);
    return true;
}

}  // namespace

void RegisterCliToolkit(const CliToolkitSetup& setup) {
    answers = setup;
    fields.clear();
    fields[IDC_HOST] = setup.host;
    fields[IDC_USERNAME] = setup.user;
    fields[IDC_PASSWORD] = setup.password;
    plat::RegisterDialogToolkit(plat::DialogToolkit{GetFieldText, SetFieldText, FocusControl,
                                                    ShowMessageBox, SoundBeep, RunFileDialog});
}
