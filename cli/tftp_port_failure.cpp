#include "cli/tftp_port_failure.h"

#include "spine/events.h"

namespace {

struct StepRow {
    int event;
    const char* step;
};

constexpr StepRow kSteps[] = {
    {ERR_SOCKETS_SETUP, "socket library start-up"},
    {ERR_TFTP_SOCKET, "socket"},
    {ERR_BIND, "bind"},
};

struct HintRow {
    plat::SocketErrorKind kind;
    const char* hint;
};

constexpr HintRow kHints[] = {
    {plat::SocketErrorKind::AddressInUse, " (another program holds it)"},
    {plat::SocketErrorKind::NeedsPrivilege,
     " (ports below 1024 need root or CAP_NET_BIND_SERVICE)"},
};

const char* StepName(int event) {
    for (const StepRow& row : kSteps)
        if (row.event == event) return row.step;
    return nullptr;
}

}  // namespace

bool IsSocketSetupEvent(int event) { return StepName(event) != nullptr; }

SocketSetupFailure DescribeSocketSetupFailure(int event, int systemError,
                                              const FailureCause* cause) {
    if (!IsSocketSetupEvent(event)) return {};
    return SocketSetupFailure{event, plat::ClassifySocketError(systemError),
                              plat::SocketErrorText(systemError),
                              cause != nullptr ? *cause : FailureCause{}};
}

std::string TftpPortFailureText(const SocketSetupFailure& failure, int port, int readyTimeoutMs) {
    const char* step = StepName(failure.event);
    if (step == nullptr)
        return "the TFTP server was not ready within " + std::to_string(readyTimeoutMs) + " ms";
    std::string text = !failure.cause.Empty() ? CauseLine(failure.cause)
                                               : "port " + std::to_string(port) + ": " + step +
                                                     ": " + failure.systemText;
    for (const HintRow& row : kHints)
        if (row.kind == failure.kind) text += row.hint;
    return text;
}
