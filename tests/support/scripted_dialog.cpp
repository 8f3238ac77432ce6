#include "tests/support/scripted_dialog.h"

#include <gtest/gtest.h>

#include <cstring>

namespace testing_support {
namespace {

ScriptedDialog* active = nullptr;

int GetFieldText(plat::WindowRef, int id, char* text, int maxCount) {
    if (maxCount <= 0) return 0;
    const std::string& value = active->fields[id];
    const std::size_t n = std::min(value.size(), static_cast<std::size_t>(maxCount - 1));
    std::memcpy(text, value.data(), n);
    text[n] = '\0';
    return static_cast<int>(n);
}

bool SetFieldText(plat::WindowRef, int id, const char* text) {
    active->calls.push_back("set " + std::to_string(id) + " " + text);
    if (active->setFieldFails) return false;
    active->fields[id] = text;
    return true;
}

void FocusControl(plat::WindowRef, int id) {
    active->calls.push_back("focus " + std::to_string(id));
    active->focusChanges.push_back(id);
}

int ShowMessageBox(plat::WindowRef, const char* text, const char* caption, unsigned flags,
                   int identity) {
    active->calls.push_back(std::string("box ") + caption);
    active->boxes.push_back(ShownBox{text, caption, flags, identity});
    if (active->boxAnswers.empty()) {
        if ((flags & 0xF) == plat::kMbOk) return plat::kIdOk;
        ADD_FAILURE() << "unexpected question: " << caption;
        return plat::kIdCancel;
    }
    const int answer = active->boxAnswers.front();
    active->boxAnswers.pop_front();
    return answer;
}

void SoundBeep(unsigned type) {
    active->calls.push_back("beep " + std::to_string(type));
    ++active->beeps;
}

bool RunFileDialog(plat::WindowRef, const plat::FileDialogSettings& settings, char* path,
                   std::size_t capacity) {
    active->calls.push_back(settings.save ? "file save" : "file open");
    active->fileDialogs.push_back(settings);
    if (active->fileAnswers.empty()) {
        ADD_FAILURE() << "unexpected file dialog";
        return false;
    }
    const std::optional<std::string> answer = active->fileAnswers.front();
    active->fileAnswers.pop_front();
    if (!answer || answer->size() >= capacity) return false;
    std::memcpy(path, answer->c_str(), answer->size() + 1);
    return true;
}

}  // namespace

void InstallScriptedDialog(ScriptedDialog& dialog) {
    active = &dialog;
    plat::RegisterDialogToolkit(plat::DialogToolkit{GetFieldText, SetFieldText, FocusControl,
                                                    ShowMessageBox, SoundBeep, RunFileDialog});
}

}  // namespace testing_support
