#include "app/command_report.h"

CommandSettingsRecord CommandSettings{};
