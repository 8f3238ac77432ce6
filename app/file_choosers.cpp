// The Save and Open file dialogs of the two commands. The chosen path is handed to the command
// through the hidden file-name field; an empty field means that no file was chosen.
#include "app/commands.h"
#include "app/dialog_ids.h"

namespace {

constexpr char kConfigFilter[] = "Config File (*.CFG)\0*.CFG\0All\0*.*\0";

int RunChooser(plat::WindowRef dialog, const plat::FileDialogSettings& settings) {
    char path[260] = {};
    if (!plat::Toolkit().RunFileDialog(dialog, settings, path, sizeof path)) return 0;
    return plat::Toolkit().SetFieldText(dialog, IDC_FILENAME, path) ? 1 : 0;
}

}  // namespace

int ChooseBackupFile(plat::WindowRef dialog, int, ConnectionSettingsRecord*) {
    return RunChooser(dialog, plat::FileDialogSettings{
                                  true, kConfigFilter, 1,
                                  "Choose a config filename to backup to...", "cfg",
                                  plat::kOfnOverwritePrompt | plat::kOfnHideReadOnly |
                                      plat::kOfnPathMustExist});
}

int ChooseRestoreFile(plat::WindowRef dialog, int, ConnectionSettingsRecord*) {
    return RunChooser(dialog, plat::FileDialogSettings{
                                  false, kConfigFilter, 1,
                                  "Choose a config filename to restore from...", "cfg",
                                  plat::kOfnHideReadOnly | plat::kOfnPathMustExist |
                                      plat::kOfnFileMustExist});
}
