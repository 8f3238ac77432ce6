#include "devicecmd/device_settings.h"

DeviceSettingsRecord DeviceSettings{};
