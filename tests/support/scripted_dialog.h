// A dialog toolkit back end for tests: fields held in memory, every modal call answered from a
// queue the test fills, every call recorded in order.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialog_toolkit.h"

namespace testing_support {

struct ShownBox {
    std::string text;
    std::string caption;
    unsigned flags;
    int identity;
};

struct ScriptedDialog {
    std::map<int, std::string> fields;
    std::deque<int> boxAnswers;                         // answers for message boxes, in order
    std::deque<std::optional<std::string>> fileAnswers;  // chosen path, or nullopt to cancel
    bool setFieldFails = false;

    // What happened, in order: "beep 64", "box <caption>", "focus 1000", "file save|open",
    // "set 1005 <text>".
    std::vector<std::string> calls;
    std::vector<ShownBox> boxes;
    std::vector<plat::FileDialogSettings> fileDialogs;
    std::vector<int> focusChanges;
    int beeps = 0;
};

// Registers the scripted back end for `dialog` (which must outlive its use).
void InstallScriptedDialog(ScriptedDialog& dialog);

}  // namespace testing_support
