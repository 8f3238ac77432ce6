// Any bytes as a request to the simulator's web server: the request is the text up to the first
// empty line, or refused; its parts are pieces of its first line; header look-ups stay inside it.
//
// The bytes go through a connected socket pair, so the receiving code runs as it does for a real
// connection (reads of whatever size the socket hands over, then the peer's end of the stream).
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "sim/http_request.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr std::size_t kHeaderLimit = 16384;

bool SendAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 60000) return -1;  // beyond what one socket pair buffers without a reader
    int pair[2];
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0);
    FUZZ_CHECK(SendAll(pair[0], data, size));
    ::shutdown(pair[0], SHUT_WR);

    HttpRequest request;
    const bool received = ReceiveHttpRequest(pair[1], 1000, &request);
    ::close(pair[0]);
    ::close(pair[1]);

    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t end = input.find("\r\n\r\n");
    if (!received) {
        FUZZ_CHECK(end == std::string_view::npos || end + 4 > kHeaderLimit + 1);
        return 0;
    }
    FUZZ_CHECK(end != std::string_view::npos);
    FUZZ_CHECK(request.Raw == input.substr(0, end + 4));
    FUZZ_CHECK(request.RequestLine == request.Raw.substr(0, request.Raw.find("\r\n")));
    std::string rebuilt = request.Method;
    if (request.RequestLine.find(' ') != std::string::npos) rebuilt += " " + request.Target;
    if (request.RequestLine.find(' ', request.Method.size() + 1) != std::string::npos)
        rebuilt += " " + request.Version;
    FUZZ_CHECK(rebuilt == request.RequestLine);
    for (const char* name : {"Authorization", "host", "X"}) {
        const std::string value = HeaderValue(request, name);
        FUZZ_CHECK(request.Raw.find(value) != std::string::npos);
    }
    return 0;
}
