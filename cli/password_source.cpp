#include "cli/password_source.h"

#include <cstdlib>
#include <fstream>

#include "platform/console.h"
#include "platform/process.h"

namespace {

constexpr const char* kPasswordVariable = "MORVANE_PASSWORD";
bool environmentPasswordTaken = false;
std::string environmentPassword;

bool PasswordFits(const std::string& password, std::string* error) {
    if (password.size() > 79) {
        *error = "the password is longer than 79 characters";
        return false;
    }
    return true;
}

bool ReadFirstLine(const std::string& path, std::string* password, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read the password file " + path;
        return false;
    }
    std::getline(in, *password);
    if (!password->empty() && password->back() == '\r') password->pop_back();
    return true;
}

}  // namespace

bool ReadPasswordFile(const std::string& path, std::string* password, std::string* error) {
    return ReadFirstLine(path, password, error) && PasswordFits(*password, error);
}

bool ResolvePassword(const CliOptions& options, std::string* password, std::string* error) {
    if (!options.passwordFile.empty()) {
        if (!ReadFirstLine(options.passwordFile, password, error)) return false;
    } else if (options.askPassword) {
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

void TakePasswordFromEnvironment() {
    environmentPasswordTaken = plat::TakeEnvironmentVariable(kPasswordVariable, &environmentPassword);
}
