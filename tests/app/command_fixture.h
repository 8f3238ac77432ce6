// A Backup/Restore command run against the in-process device simulator on loopback, with the
// dialog answered by a script and every hook event recorded.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/command_report.h"
#include "app/commands.h"
#include "app/config_file_hooks.h"
#include "app/dialog_ids.h"
#include "devicecmd/device_settings.h"
#include "platform/fault_injection.h"
#include "platform/threads.h"
#include "sim/device_simulator.h"
#include "spine/shared_state.h"
#include "spine/transfer_hooks.h"
#include "tests/support/scripted_dialog.h"
#include "tests/support/simulated_device_run.h"
#include "tests/support/test_support.h"
#include "tftp/tftp_settings.h"

namespace testing_support {

class CommandAgainstSimulator : public ::testing::Test, public SimulatedDeviceRun {
protected:
    void SetUp() override {
        RegisterTransferHooks(CheckFilename, DownloadConfig, UploadConfig, nullptr, nullptr);
        InstallRecordingReporters();
        ClearRecordedEvents();
        PrepareDeviceRun();
        dialog.fields[IDC_HOST] = "127.0.0.1";
        dialog.fields[IDC_USERNAME] = "root";
        dialog.fields[IDC_PASSWORD] = "tundra";
        InstallScriptedDialog(dialog);
    }

    void TearDown() override {
        FinishDeviceRun();
        plat::ClearInjectedFailures();
    }

    void RunBackup(const std::string& target) {
        dialog.fileAnswers.push_back(target);
        report = RunBackupCommand(nullptr, &ConnectionSettings);
    }

    void RunRestore(const std::string& source, bool factoryReset) {
        dialog.fileAnswers.push_back(source);
        dialog.boxAnswers.push_back(factoryReset ? plat::kIdYes : plat::kIdNo);
        report = RunRestoreCommand(nullptr, &ConnectionSettings);
    }

    const ShownBox& OnlyBox() {
        EXPECT_EQ(dialog.boxes.size(), 1u);
        static const ShownBox none{};
        return dialog.boxes.empty() ? none : dialog.boxes.back();
    }

    ScriptedDialog dialog;
    CommandReport report;  // of the last RunBackup or RunRestore
};

}  // namespace testing_support
