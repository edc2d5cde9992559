#include "serial/kept_port.h"

#include <gtest/gtest.h>

#include "support/recording_port.h"

using Events = std::vector<std::string>;

class KeptPortTest : public ::testing::Test {
  protected:
    RecordingPort device;
    std::int64_t now = 10'000;
    KeptPort port{device, [this] { return now; }};

    void After(int milliseconds) {
        now += milliseconds;
        port.Reopen();
    }
};

TEST_F(KeptPortTest, AFailedWriteLetsTheDeviceGoAndItIsReopenedEveryTwoSeconds) {
    port.Open();
    device.failWrites = true;  // unplugged
    EXPECT_FALSE(port.Output("packet"));
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(device.events.back(), "close");

    device.events.clear();
    device.missing = {1};
    After(1'000);  // too soon after the open
    EXPECT_TRUE(device.events.empty());
    After(1'000);
    After(1'000);  // too soon after that try
    After(1'000);
    EXPECT_EQ(device.events, (Events{"open 1", "open 1"}));

    device.missing.clear();  // plugged back in
    device.failWrites = false;
    After(2'000);
    EXPECT_TRUE(port.PortOpen());
    EXPECT_TRUE(port.Output("packet"));
    After(2'000);
    EXPECT_EQ(device.events.back(), "open 1");  // no more tries once it is open
    EXPECT_EQ(device.events.size(), 3u);
}

TEST_F(KeptPortTest, APortThatFailedToOpenIsTriedAgain) {
    device.missing = {5};
    port.SetCommPort(5);
    EXPECT_FALSE(port.Open());
    device.missing.clear();
    After(2'000);
    EXPECT_TRUE(port.PortOpen());
    EXPECT_EQ(device.commPort, 5);
}

TEST_F(KeptPortTest, AVanishedDeviceIsLetGoAndReopenedBeforeAnyWriteFails) {
    port.Open();
    device.vanished = true;  // hung up, the path still there
    After(3'000);
    EXPECT_EQ(device.events, (Events{"open 1", "close", "open 1"}));
    EXPECT_TRUE(port.PortOpen());
}

TEST_F(KeptPortTest, AClosedPortStaysClosedAlsoWhenItWasNotOpen) {
    device.missing = {1};
    port.Open();             // failed at the start or at a choice
    port.Close();            // another entry, "None", or "Close and Exit"
    device.missing.clear();  // the device comes back
    After(5'000);
    EXPECT_EQ(device.events, (Events{"open 1"}));

    device.events.clear();
    port.Open();
    device.failWrites = true;  // lost: the failed write lets the device go
    port.Output("packet");
    port.Close();
    device.failWrites = false;
    After(5'000);
    EXPECT_EQ(device.events, (Events{"open 1", "close"}));
    EXPECT_FALSE(port.chosen());
}
