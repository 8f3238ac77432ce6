// The console behind platform/console.h, for Windows.
#include "platform/console.h"

#include <windows.h>

#include <cstdio>

namespace plat {

bool StderrIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool ReadSecretLine(const char* prompt, std::string* line) {
    const HANDLE input =
        ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) return false;
    DWORD saved = 0;
    const bool isConsole = ::GetConsoleMode(input, &saved) != 0;
    if (isConsole) ::SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    line->clear();
    bool ended = false;
    for (;;) {
        char c = 0;
        DWORD got = 0;
        if (!::ReadFile(input, &c, 1, &got, nullptr) || got == 0) {
            ended = line->empty();
            break;
        }
        if (c == '\n') break;
        if (c != '\r') line->push_back(c);
    }
    if (isConsole) ::SetConsoleMode(input, saved);
    std::fputs("\n", stderr);
    ::CloseHandle(input);
    return !ended;
}

}  // namespace plat
