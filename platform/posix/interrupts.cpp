// platform/interrupts.h for POSIX: SIGINT and SIGTERM blocked in every thread, one thread in
// sigwait.
#include "platform/interrupts.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace plat {
namespace {

sigset_t watched;
void (*interruptHandler)(int) = nullptr;

void* WaitForInterrupts(void*) {
    for (;;) {
        int number = 0;
        if (::sigwait(&watched, &number) == 0) interruptHandler(number);
    }
}

}  // namespace

bool WatchInterrupts(void (*handler)(int signal)) {
    interruptHandler = handler;
    ::sigemptyset(&watched);
    ::sigaddset(&watched, SIGINT);
    ::sigaddset(&watched, SIGTERM);
    if (::pthread_sigmask(SIG_BLOCK, &watched, nullptr) != 0) return false;
    pthread_t thread;
    if (::pthread_create(&thread, nullptr, WaitForInterrupts, nullptr) != 0) {
        ::pthread_sigmask(SIG_UNBLOCK, &watched, nullptr);
        return false;
    }
    ::pthread_detach(thread);
    return true;
}

void EndProcessNow(int code) { ::_exit(code); }

}  // namespace plat
