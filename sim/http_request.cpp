#include "sim/http_request.h"

#include <array>
#include <cstdint>

namespace {

constexpr std::size_t kHeaderLimit = 16384;

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

void SplitRequestLine(HttpRequest* r) {
    const std::size_t lineEnd = r->Raw.find("\r\n");
    r->RequestLine = r->Raw.substr(0, lineEnd);
    const std::size_t first = r->RequestLine.find(' ');
    const std::size_t second =
        first == std::string::npos ? first : r->RequestLine.find(' ', first + 1);
    r->Method = r->RequestLine.substr(0, first);
    if (first != std::string::npos)
        r->Target = r->RequestLine.substr(first + 1, second - first - 1);
    if (second != std::string::npos) r->Version = r->RequestLine.substr(second + 1);
}

}  // namespace

bool ReceiveHttpRequest(plat::SocketHandle s, int timeoutMs, HttpRequest* request) {
    std::array<std::uint8_t, 2048> chunk{};
    request->Raw.clear();
    for (;;) {
        const std::size_t end = request->Raw.find("\r\n\r\n");
        if (end != std::string::npos) {
            request->Raw.resize(end + 4);
            SplitRequestLine(request);
            return true;
        }
        if (request->Raw.size() > kHeaderLimit) return false;
        const int n = plat::SocketRecv(s, chunk, timeoutMs);
        if (n <= 0) return false;
        request->Raw.append(chunk.begin(), chunk.begin() + n);
    }
}

std::string HeaderValue(const HttpRequest& request, std::string_view name) {
    std::string_view rest = request.Raw;
    std::size_t lineEnd = rest.find("\r\n");
    while (lineEnd != std::string_view::npos && lineEnd + 2 < rest.size()) {
        rest.remove_prefix(lineEnd + 2);
        lineEnd = rest.find("\r\n");
        const std::string_view line = rest.substr(0, lineEnd);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && EqualIgnoringCase(Trim(line.substr(0, colon)), name))
            return std::string(Trim(line.substr(colon + 1)));
    }
    return {};
}
