// The simulated device's configuration text, kept in its state file.
//
// Contract: used on the simulator's thread only. The text always has LF line ends. A missing
// state file is created from the factory text on first use; every change replaces the file in
// one step, so a reader never sees half a configuration. With no state path the text lives in
// memory only.
#pragma once

#include <string>
#include <string_view>

// The whole file into *text (emptied first). False when it cannot be opened or read.
bool ReadFileText(const std::string& path, std::string* text);

class DeviceConfigStore {
  public:
    DeviceConfigStore(std::string statePath, std::string factoryText);

    // The current configuration (reading the state file again, so outside edits count).
    std::string Current();
    // Stores `text` as the configuration, CR LF line ends turned into LF. False when the state
    // file cannot be written; the old configuration then stays.
    bool Apply(std::string_view text);
    bool ResetToFactory();

  private:
    bool Store(const std::string& text);

    std::string statePath_;
    std::string factoryText_;
    std::string memory_;
};

// CR LF → LF.
std::string WithLfLineEnds(std::string_view text);
