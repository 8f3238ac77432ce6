#include "cli/password_source.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/backup_target.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

constexpr const char* kPasswordVariable = "MORVANE_PASSWORD";
bool environmentPasswordTaken = false;
std::string environmentPassword;

// The password field holds 79 characters; a first line may end in CR LF.
constexpr std::size_t kLongestPassword = 79;

bool PasswordFits(const std::string& password, std::string* error) {
    if (password.size() > kLongestPassword) {
        *error = "the password is longer than 79 characters";
        return false;
    }
    return true;
}

bool Refuse(const std::string& path, const std::string& cause, std::string* error) {
    *error = "the password file " + path + " " + cause;
    return false;
}

// The first line of the file, read no further than the longest password and its line end.
bool ReadFirstLine(const std::string& path, std::string* password, std::string* error) {
    // Looked at before it is opened: a FIFO would keep the tool waiting for a writer, a device
    // could be read without end.
    if (const char* refused = NotARegularFile(plat::NodeKindAt(path.c_str(), true)))
        return Refuse(path, std::string("is ") + refused, error);
    std::array<std::uint8_t, kLongestPassword + 2> start{};
    const std::int64_t got = plat::FileReadStart(path.c_str(), start);
    if (got < 0) {
        *error = "cannot read the password file " + path + ": " + plat::LastFileErrorText();
        return false;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(start.data()),
                                 static_cast<std::size_t>(got));
    const std::size_t lineEnd = bytes.find('\n');
    std::string_view line = bytes.substr(0, lineEnd);
    if (lineEnd == std::string_view::npos && bytes.size() == start.size())
        return Refuse(path, "has a first line longer than 79 characters", error);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return Refuse(path, "has an empty first line", error);
    if (line.size() > kLongestPassword)
        return Refuse(path, "has a first line longer than 79 characters", error);
    password->assign(line);
    return true;
}

}  // namespace

bool ReadPasswordFile(const std::string& path, std::string* password, std::string* error) {
    return ReadFirstLine(path, password, error);
}

bool ResolvePassword(const CliOptions& options, std::string* password, std::string* error) {
    if (!options.passwordFile.empty()) return ReadFirstLine(options.passwordFile, password, error);
    if (options.askPassword) {
        if (!plat::ReadSecretLine("Password: ", password)) {
            *error = "no terminal to ask for the password";
            return false;
        }
    } else if (const char* fromEnvironment = std::getenv(kPasswordVariable)) {
        *password = fromEnvironment;
    } else if (environmentPasswordTaken) {
        *password = environmentPassword;
    } else {
        *password = "tundra";
    }
    return PasswordFits(*password, error);
}

std::string PasswordFileWarning(const std::string& path) {
    constexpr std::uint32_t kReadableByGroupOrOthers = 0044;
    std::uint32_t mode = 0;
    if (!plat::OpenToOthers(path.c_str(), &mode) || (mode & kReadableByGroupOrOthers) == 0)
        return {};
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode));
    return "morvane-cli: warning: other users can read the password file " + path + " (mode " +
           octal + "); to make it private: chmod go= '" + path + "'\n";
}

void TakePasswordFromEnvironment() {
    environmentPasswordTaken = plat::TakeEnvironmentVariable(kPasswordVariable, &environmentPassword);
}
