#include "app/command_steps.h"

#include <cstdio>

#include "app/dialog_ids.h"
#include "devicecmd/server_probe.h"
#include "platform/log.h"
#include "platform/threads.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_settings.h"

namespace {

constexpr std::size_t kMessageArea = 1024;

template <std::size_t N>
void ReadField(plat::WindowRef dialog, int id, char (&text)[N]) {
    text[0] = '\0';
    plat::Toolkit().GetFieldText(dialog, id, text, static_cast<int>(N));
    text[N - 1] = '\0';
}

}  // namespace

void SoundInformationBeep() { plat::Toolkit().SoundBeep(plat::kBeepInformation); }

int ShowCommandBox(plat::WindowRef dialog, const MessageBoxText& box, const char* fill) {
    char message[kMessageArea];
    std::snprintf(message, sizeof message, box.text, fill ? fill : "");
    return plat::Toolkit().ShowMessageBox(dialog, message, box.caption, box.flags,
                                          static_cast<int>(box.id));
}

void ReadConnectionFields(plat::WindowRef dialog, CommandFields& fields) {
    ReadField(dialog, IDC_HOST, fields.host);
    SetHost(fields.host);
    ReadField(dialog, IDC_USERNAME, fields.userName);
    SetUserName(fields.userName);
    ReadField(dialog, IDC_PASSWORD, fields.password);
    SetPassword(fields.password);
}

bool ConnectionFieldsPresent(plat::WindowRef dialog, const CommandFields& fields,
                             const MessageBoxText& noHostBox) {
    const auto refuse = [&](const MessageBoxText& box, int focus) {
        SoundInformationBeep();
        ShowCommandBox(dialog, box);
        plat::Toolkit().FocusControl(dialog, focus);
        return false;
    };
    if (fields.host[0] == '\0') return refuse(noHostBox, IDC_HOST);
    if (fields.userName[0] == '\0') return refuse(command_text::kNoUserName, IDC_USERNAME);
    return true;
}

void PrintConnectionLine(const ConnectionSettingsRecord& settings) {
    plat::Log("%s:%s:%s\n", settings.Host, settings.UserName, "********");
}

bool ChooseCommandFile(plat::WindowRef dialog, FileChooser chooser,
                       ConnectionSettingsRecord* settings, char (&path)[260]) {
    chooser(dialog, 0, settings);
    ReadField(dialog, IDC_FILENAME, path);
    while (path[0] == '\0') {
        SoundInformationBeep();
        if (ShowCommandBox(dialog, command_text::kNoFileName) != plat::kIdYes) return false;
        chooser(dialog, 0, settings);
        ReadField(dialog, IDC_FILENAME, path);
    }
    return true;
}

bool DeviceIsTavio(plat::WindowRef dialog, const char* host, const MessageBoxText& unsupportedBox,
                   CommandResult* refusal) {
    const auto refuse = [&](const MessageBoxText& box, CommandResult result) {
        SoundInformationBeep();
        ShowCommandBox(dialog, box, host);
        plat::Toolkit().FocusControl(dialog, IDC_HOST);
        *refusal = result;
        return false;
    };
    if (ProbeServerType(GetHost()) == SERVER_UNRECOGNISED)
        return refuse(command_text::kNotTavio, CommandResult::NotTavio);
    if (ProbeServerType(GetHost()) == SERVER_UNSUPPORTED)
        return refuse(unsupportedBox, CommandResult::Unsupported);
    return true;
}

CommandReport WithFailureCause(CommandReport report) {
    const bool takesCause = report.Result != CommandResult::Completed &&
                            report.Result != CommandResult::Declined &&
                            report.Result != CommandResult::TransferUnconfirmed;
    if (takesCause && report.Cause.Empty()) report.Cause = LatestUnboundFailure();
    return report;
}

void ShowServerNotReady(plat::WindowRef dialog) {
    SoundInformationBeep();
    ShowCommandBox(dialog, command_text::kPortWarning);
}
