// morvane.exe: the dialog utility.
#include <windows.h>

#include "ui/morvane_start.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    return RunMorvane(instance, commandLine);
}
