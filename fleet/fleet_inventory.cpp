#include "fleet/fleet_inventory.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <set>
#include <utility>

#include "spine/printable_text.h"

namespace {

enum class Column {
    Host,
    Name,
    User,
    PasswordFile,
    TftpAddress,
    DeviceTftpAddress,
    HttpPort,
    Count_
};

struct ColumnName {
    Column column;
    std::string_view text;
};

constexpr std::array<ColumnName, 7> kColumns{{{Column::Host, "host"},
                                              {Column::Name, "name"},
                                              {Column::User, "user"},
                                              {Column::PasswordFile, "password_file"},
                                              {Column::TftpAddress, "tftp_address"},
                                              {Column::DeviceTftpAddress, "device_tftp_address"},
                                              {Column::HttpPort, "http_port"}}};

// The limits of the fields the single-device command takes (the text areas less their zero).
constexpr std::size_t kHostLimit = 127;
constexpr std::size_t kUserLimit = 79;
// A name becomes NAME.cfg, and a file name holds at most 255 bytes.
constexpr std::size_t kNameLimit = 255 - 4;

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// Splits one line into its fields. False with *error set when a quoted field is not closed or
// has text after its closing quote.
bool SplitCsvLine(std::string_view line, std::vector<std::string>* fields, std::string* error) {
    fields->clear();
    std::size_t at = 0;
    for (;;) {
        std::string field;
        std::size_t end = at;
        while (end < line.size() && (line[end] == ' ' || line[end] == '\t')) ++end;
        if (end < line.size() && line[end] == '"') {
            std::size_t i = end + 1;
            for (;; ++i) {
                if (i >= line.size()) {
                    *error = "a quoted field is not closed";
                    return false;
                }
                if (line[i] != '"') {
                    field += line[i];
                } else if (i + 1 < line.size() && line[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    break;
                }
            }
            end = i + 1;
            while (end < line.size() && line[end] != ',') {
                if (!Trim(line.substr(end, 1)).empty()) {
                    *error = "text after a quoted field";
                    return false;
                }
                ++end;
            }
        } else {
            end = std::min(line.find(',', at), line.size());
            field = Trim(line.substr(at, end - at));
        }
        fields->push_back(std::move(field));
        if (end >= line.size()) return true;
        at = end + 1;
    }
}

// Windows takes these for devices, with any extension ("nul.cfg", "com1.x.cfg"), in any case.
bool IsReservedDeviceName(std::string_view name) {
    std::string stem = Lower(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (const std::string_view reserved : {"con", "prn", "aux", "nul"})
        if (stem == reserved) return true;
    return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) &&
           stem[3] >= '1' && stem[3] <= '9';
}

// A name becomes a file in the store: it must stay a plain file name on every platform.
const char* NameProblem(std::string_view name) {
    if (name.empty()) return "the name is empty";
    if (name.size() > kNameLimit) return "the name is longer than a file name may be";
    if (name == "." || name == ".." || name.front() == '.') return "the name starts with a dot";
    for (const unsigned char c : name) {
        if (c < 0x20 || c == 0x7f) return "the name holds a control character";
        if (std::string_view("/\\:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
            return "the name holds a character that a file name cannot";
    }
    if (name.back() == ' ' || name.back() == '.') return "the name ends in a space or a dot";
    if (IsReservedDeviceName(name)) return "the name is one that Windows keeps for a device";
    return nullptr;
}

// A port as the column holds it: decimal digits only, 1 to 65535; empty is 0 (none given).
bool ParsePort(std::string_view text, std::uint16_t* port) {
    *port = 0;
    if (text.empty()) return true;
    if (text.size() > 5) return false;
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    *port = static_cast<std::uint16_t>(value);
    return true;
}

bool Fail(std::string* error, int line, const std::string& reason) {
    *error = "line " + std::to_string(line) + ": " + reason;
    return false;
}

}  // namespace

bool ParseFleetInventory(std::string_view text, std::vector<FleetDevice>* devices,
                         std::string* error, std::string* warning) {
    devices->clear();
    if (warning) warning->clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte order mark
    std::vector<std::string> unknown;
    std::array<int, static_cast<std::size_t>(Column::Count_)> where;
    where.fill(-1);
    bool haveHeader = false;
    std::set<std::string> names;
    std::vector<std::string> fields;
    int lineNumber = 0;
    std::size_t columns = 0;  // in the header, known or not
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        ++lineNumber;
        const std::string_view content = Trim(line);
        if (content.empty() || content.front() == '#') continue;
        std::string reason;
        if (!SplitCsvLine(line, &fields, &reason)) return Fail(error, lineNumber, reason);

        if (!haveHeader) {
            haveHeader = true;
            for (std::size_t i = 0; i < fields.size(); ++i) {
                const std::string column = Lower(fields[i]);
                const auto known =
                    std::find_if(kColumns.begin(), kColumns.end(),
                                 [&](const ColumnName& c) { return c.text == column; });
                if (known == kColumns.end()) {
                    unknown.push_back("\"" + PrintableText(fields[i]) + "\"");
                    continue;
                }
                int& slot = where[static_cast<std::size_t>(known->column)];
                if (slot != -1)
                    return Fail(error, lineNumber,
                                "column \"" + PrintableText(fields[i]) + "\" given twice");
                slot = static_cast<int>(i);
            }
            columns = fields.size();
            if (where[static_cast<std::size_t>(Column::Host)] == -1)
                return Fail(error, lineNumber, "the header has no \"host\" column");
            continue;
        }

        if (fields.size() > columns)
            return Fail(error, lineNumber, "more fields than the header names");
        const auto get = [&](Column column) -> std::string {
            const int at = where[static_cast<std::size_t>(column)];
            return at >= 0 && static_cast<std::size_t>(at) < fields.size()
                       ? fields[static_cast<std::size_t>(at)]
                       : "";
        };
        FleetDevice device;
        device.line = lineNumber;
        device.host = get(Column::Host);
        device.name = get(Column::Name);
        device.user = get(Column::User);
        device.passwordFile = get(Column::PasswordFile);
        device.tftpAddress = get(Column::TftpAddress);
        device.deviceTftpAddress = get(Column::DeviceTftpAddress);
        if (device.host.empty()) return Fail(error, lineNumber, "the host is empty");
        if (!ParsePort(get(Column::HttpPort), &device.httpPort))
            return Fail(error, lineNumber,
                        "the http_port \"" + PrintableText(get(Column::HttpPort)) +
                            "\" is not a port (1 to 65535)");
        // The host and the addresses are names or dotted addresses alike.
        for (const auto& [text, what] :
             {std::pair{&device.host, "the host"},
              std::pair{&device.tftpAddress, "the tftp_address"},
              std::pair{&device.deviceTftpAddress, "the device_tftp_address"}}) {
            if (text->size() > kHostLimit)
                return Fail(error, lineNumber,
                            std::string(what) + " is longer than 127 characters");
            if (text->find_first_of(" \t\"") != std::string::npos)
                return Fail(error, lineNumber, std::string(what) + " holds a blank or a quote");
        }
        if (device.name.empty()) device.name = device.host;
        if (const char* problem = NameProblem(device.name)) return Fail(error, lineNumber, problem);
        const std::string key = Lower(device.name);  // names that differ only in case share a file on some disks
        if (!names.insert(key).second)
            return Fail(error, lineNumber,
                        "the name \"" + PrintableText(device.name) + "\" is already taken");
        if (device.user.size() > kUserLimit)
            return Fail(error, lineNumber, "the user name is longer than 79 characters");
        devices->push_back(std::move(device));
    }
    if (!haveHeader) {
        *error = lineNumber == 0 ? "the inventory is empty" : "the inventory has no header line";
        return false;
    }
    if (warning && !unknown.empty()) {
        *warning = unknown.size() == 1 ? "unknown column " : "unknown columns ";
        for (std::size_t i = 0; i < unknown.size(); ++i)
            *warning += (i ? ", " : "") + unknown[i];
        *warning += " ignored";
    }
    return true;
}

bool SelectFleetDevices(const std::vector<std::string>& names, std::vector<FleetDevice>* devices,
                        std::string* error) {
    std::set<std::string> wanted;
    for (const std::string& name : names) wanted.insert(Lower(name));
    std::set<std::string> present;
    for (const FleetDevice& device : *devices) present.insert(Lower(device.name));
    std::vector<std::string> missing;
    for (const std::string& name : names)
        if (!present.contains(Lower(name)) &&
            std::find(missing.begin(), missing.end(), name) == missing.end())
            missing.push_back(name);
    if (!missing.empty()) {
        *error = missing.size() == 1 ? "no device is named " : "no devices are named ";
        for (std::size_t i = 0; i < missing.size(); ++i)
            *error += (i ? ", \"" : "\"") + PrintableText(missing[i]) + "\"";
        return false;
    }
    std::erase_if(*devices,
                  [&](const FleetDevice& device) { return !wanted.contains(Lower(device.name)); });
    return true;
}
