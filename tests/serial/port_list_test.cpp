#include "serial/port_list.h"

#include <gtest/gtest.h>

#include "settings/settings_file.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

TEST(PortListEntries, NoneFirstThenSixteenPortsInOrderWithTheirMarkers) {
    std::vector<int> probed;
    auto entries = PortListEntries([&](std::int16_t n) {
        probed.push_back(n);
        return n == 3 || n == 16;
    });
    ASSERT_EQ(entries.size(), 17u);
    EXPECT_EQ(entries[0], "None");
    EXPECT_EQ(entries[1], " COM1");
    EXPECT_EQ(entries[3], "+COM3");
    EXPECT_EQ(entries[10], " COM10");
    EXPECT_EQ(entries[16], "+COM16");
    EXPECT_EQ(probed, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
}

TEST(PortListEntries, NoPortsAtAllMarksNone) {
    auto entries = PortListEntries([](std::int16_t) { return false; });
    for (std::size_t i = 1; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i][0], ' ');
    }
}

TEST(PortNames, PlatformDefaultsAndOverridesFromTheSettingsFile) {
    TempDir dir;
    auto ini = settingsFilePath(dir.path());
    WriteFile(ini, "[Ports]\ncom5 = /dev/serial/by-id/emitter\nCOM6=\nCOM5=/dev/second\n");
    PortNames names = PortNames::FromSettings(ini);
    EXPECT_EQ(names.DeviceFor(1), "/dev/ttyS0");
    EXPECT_EQ(names.DeviceFor(4), "/dev/ttyS3");
    EXPECT_EQ(names.DeviceFor(5), "/dev/serial/by-id/emitter");
    EXPECT_EQ(names.DeviceFor(6), "/dev/ttyUSB1");  // an empty value overrides nothing
    EXPECT_EQ(names.DeviceFor(12), "/dev/ttyUSB7");
    EXPECT_EQ(names.DeviceFor(13), "/dev/ttyACM0");
    EXPECT_EQ(names.DeviceFor(16), "/dev/ttyACM3");
}

TEST(IsComPortAvailable, OnlyATerminalDeviceNobodyHoldsIsAvailable) {
    TempDir dir;
    PtyPair line;
    WriteFile(dir / "plain", "");
    PortNames names;
    names.Override(1, line.device());
    names.Override(2, (dir / "plain").string());
    names.Override(3, dir.path().string());
    names.Override(4, (dir / "missing").string());
    EXPECT_TRUE(IsComPortAvailable(1, names));
    EXPECT_TRUE(IsComPortAvailable(1, names));  // the probe left it closed
    EXPECT_FALSE(IsComPortAvailable(2, names));
    EXPECT_FALSE(IsComPortAvailable(3, names));
    EXPECT_FALSE(IsComPortAvailable(4, names));
}
