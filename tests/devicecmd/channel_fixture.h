// Common ground of the command channel's tests: short time-outs, captured diagnostic lines, and
// reporters that note each event together with the diagnostic text printed before it.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "devicecmd/device_settings.h"
#include "platform/fault_injection.h"
#include "platform/net.h"
#include "spine/shared_state.h"
#include "tests/support/test_support.h"

struct NotedEvent {
    bool isError;
    int code;
    std::string printedBefore;  // the diagnostic text at the moment of the report
};

class ChannelTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Events in order, as (isError, code).
    std::vector<NotedEvent> Events() const;
    std::vector<int> Errors() const;
    std::vector<int> Statuses() const;
    std::string Printed() const { return log_.Text(); }
    // Nothing left open: no socket and no socket-library start-up.
    void ExpectAllReleased() const {
        EXPECT_EQ(plat::OpenSocketCount(), 0);
        EXPECT_EQ(plat::NetStartupCount(), 0);
    }
    // ConnectionSettings pointing at 127.0.0.1:port with the given credentials.
    void UseDevice(std::uint16_t port, const char* user = "root", const char* password = "tundra");

    testing_support::LogCapture log_;
    DeviceSettingsRecord savedSettings_{};
};
