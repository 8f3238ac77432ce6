// The terminal behind platform/console.h, for POSIX.
#include "platform/console.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace plat {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool ReadSecretLine(const char* prompt, std::string* line) {
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    termios saved{};
    const bool isTty = ::tcgetattr(fd, &saved) == 0;
    if (isTty) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    line->clear();
    char c = 0;
    bool ended = false;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0) {
            ended = line->empty();
            break;
        }
        if (c == '\n' || c == '\r') break;
        line->push_back(c);
    }
    if (isTty) ::tcsetattr(fd, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
    ::close(fd);
    return !ended;
}

}  // namespace plat
