#include "app/command_report.h"

CommandReportRecord LastCommandReport{};
CommandSettingsRecord CommandSettings{};
