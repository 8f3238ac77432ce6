// The device's CLI commands, one HTTP/1.0 GET each, with Basic credentials.
//
// Contract: dialog's thread only. Each call opens its own connection and closes it (and releases
// its socket-library start-up) before it returns, on every path. Results: 1 the command ended as
// done (the device closed the connection), 0 failure, already reported through ReportError.
#pragma once

enum CommandKind : int {
    CMD_REBOOT = 1,
    CMD_LIST_CHANGES = 2,
    CMD_INITIALIZE_FACTORY = 5,
    CMD_EXECUTE = 6,
};

int SendCliCommand(const char* host, const char* userName, const char* password,
                   const char* requestTemplate, int kind);
int SendRebootCommand();
int SendFactoryResetCommand();
int SendExecuteCommand();
int SendListChangesCommand();
