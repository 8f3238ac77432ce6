#include "cli/fleet_page_output.h"

#include "fleet/fleet_atomic_file.h"
#include "platform/files.h"

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

}  // namespace

std::string FleetPageScratchPath(const std::string& page) {
    std::size_t start = page.size();
    while (start > 0 && !IsSeparator(page[start - 1])) --start;
    return page.substr(0, start) + "." + page.substr(start) + ".morvane-new";
}

std::string FleetPagePathInStore(const std::string& page, const std::string& store) {
    std::string real, inside;
    // A name inside STORE resolves to STORE's own real path with that name after it.
    if (!plat::ResolveWritePath(page.c_str(), &real) ||
        !plat::ResolveWritePath((store + "/x").c_str(), &inside) || inside.size() < 2)
        return {};
    inside.pop_back();
    if (real.size() <= inside.size() || real.compare(0, inside.size(), inside) != 0) return {};
    std::string relative = real.substr(inside.size());
    for (char& c : relative)
        if (c == '\\') c = '/';
    return relative;
}

bool WriteFleetPageFile(const std::string& page, const std::string& text, std::string* error) {
    return WriteFileAtomically(page, text, true, error, FleetPageScratchPath(page));
}
