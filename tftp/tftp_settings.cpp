#include "tftp/tftp_settings.h"

TftpSettingsRecord TftpSettings;
