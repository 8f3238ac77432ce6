#include "cli/password_source.h"

#include <cstdlib>
#include <fstream>

#include "platform/console.h"

bool ResolvePassword(const CliOptions& options, std::string* password, std::string* error) {
    if (!options.passwordFile.empty()) {
        std::ifstream in(options.passwordFile, std::ios::binary);
        if (!in) {
            *error = "cannot read the password file " + options.passwordFile;
            return false;
        }
        std::getline(in, *password);
        if (!password->empty() && password->back() == '\r') password->pop_back();
    } else if (options.askPassword) {
        if (!plat::ReadSecretLine("Password: ", password)) {
            *error = "no terminal to ask for the password";
            return false;
        }
    } else if (const char* fromEnvironment = std::getenv("MORVANE_PASSWORD")) {
        *password = fromEnvironment;
    } else {
        *password = "tundra";
    }
    if (password->size() > 79) {
        *error = "the password is longer than 79 characters";
        return false;
    }
    return true;
}
