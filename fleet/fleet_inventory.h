// The inventory of a fleet backup: which devices to back up, under which names, as whom.
//
// Contract: pure text work, any thread. The caller reads the file and hands its text over; the
// devices come back in file order. Nothing here contacts a device or opens a store.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct FleetDevice {
    int line = 0;              // line of the inventory it came from, for reports
    std::string host;          // address or name of the device
    std::string name;          // its file in the store is NAME.cfg; the host when not given
    std::string user;          // empty: the command's user name
    std::string passwordFile;  // empty: the command's usual password sources
    // Address or name; empty: the command's own (--tftp-address; the address the device's
    // connection reached).
    std::string tftpAddress;        // ours, as this device is told it
    std::string deviceTftpAddress;  // the one this device's TFTP requests come from
    std::uint16_t httpPort = 0;     // its web port; 0: the command's own (--http-port)
};

// Parses a CSV inventory: a header line naming the columns (host required; name, user,
// password_file, tftp_address, device_tftp_address and http_port optional, in any order, in any
// case; other columns are ignored), then one device a line. A byte order mark before the header
// is skipped. Blank lines and lines whose first non-blank character is '#' are skipped. Fields may
// be double-quoted ("" is a quote). False on the first bad line, with "line N: reason" in *error
// (a text with no line at all: "the inventory is empty"); *devices is then unusable. Messages
// show bytes that do not print as \xNN. *warning, when given, names the ignored columns in one
// text (empty when there are none).
bool ParseFleetInventory(std::string_view text, std::vector<FleetDevice>* devices,
                         std::string* error, std::string* warning = nullptr);

// Keeps just the devices named (in any case, as the inventory's names are unique), in inventory
// order. False when a name is not in the inventory, with *error naming every such name; *devices
// is then as it was.
bool SelectFleetDevices(const std::vector<std::string>& names, std::vector<FleetDevice>* devices,
                        std::string* error);
