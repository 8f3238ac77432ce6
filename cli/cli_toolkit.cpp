#include "cli/cli_toolkit.h"

#include <cstring>
#include <map>

#include "app/dialog_ids.h"

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

int ShowMessageBox(plat::WindowRef, const char* text, const char* caption, unsigned flags) {
    int answer = plat::kIdOk;
    const unsigned buttons = flags & 0xF;
    if (buttons == plat::kMbYesNo) answer = answers.factoryReset ? plat::kIdYes : plat::kIdNo;
    if (buttons == plat::kMbYesNoCancel) answer = plat::kIdNo;
    std::string line = std::string(caption) + ": " + WithoutCarriageReturns(text);
    if (buttons == plat::kMbYesNo || buttons == plat::kMbYesNoCancel)
        line += answer == plat::kIdYes ? " -> Yes" : " -> No";
    if (answers.verbose || (flags & 0xF0u) == plat::kMbIconError)
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
