#include "serial/port_selection.h"

#include <gtest/gtest.h>

#include "settings/settings_file.h"
#include "support/recording_port.h"
#include "support/temp_dir.h"

using Events = std::vector<std::string>;

TEST(PortNumberFromEntry, IgnoresTheMarkerAndNothingElse) {
    EXPECT_EQ(PortNumberFromEntry("+COM3"), 3);
    EXPECT_EQ(PortNumberFromEntry(" COM3"), 3);
    EXPECT_EQ(PortNumberFromEntry("+COM16"), 16);
    EXPECT_EQ(PortNumberFromEntry("COM5"), 5);  // an entry marked " " as it comes back saved
    for (const char* none : {"None", "none", "", "+", "+COM0", "+COM17", "+com3", "+COM03",
                             "+COM3 ", " COM 3", "COM"}) {
        EXPECT_EQ(PortNumberFromEntry(none), std::nullopt) << '"' << none << '"';
    }
}

class PortSelection : public ::testing::Test {
  protected:
    TempDir dir;
    std::filesystem::path ini = settingsFilePath(dir.path());
    RecordingPort port;
    std::int64_t now = 10'000;
    KeptPort kept{port, [this] { return now; }};
    int warnings = 0;

    void Choose(const std::string& entry) {
        ChooseListEntry(entry, kept, ini, [this] { ++warnings; });
    }
    std::string Saved() { return ReadIniValue("SerialSync", "COMPORT", "(none saved)", ini); }
    std::string Start() {
        std::string text = RestoreSavedPort(port, ini);
        OpenRestoredPort(text, port);
        return text;
    }
};

TEST_F(PortSelection, ChoosingAPortClosesTheOldOneOpensTheNewAndSaves) {
    port.commPort = 7;
    port.open = true;
    Choose("+COM3");
    EXPECT_EQ(port.events, (Events{"close", "port 3", "open 3"}));
    EXPECT_TRUE(port.open);
    EXPECT_EQ(Saved(), "+COM3");
    EXPECT_EQ(warnings, 0);
}

TEST_F(PortSelection, APortThatFailsToOpenWarnsOnceAndIsStillSaved) {
    port.missing = {5};
    Choose(" COM5");
    EXPECT_EQ(port.events, (Events{"port 5", "open 5"}));
    EXPECT_FALSE(port.open);
    EXPECT_EQ(warnings, 1);
    EXPECT_NE(ReadFile(ini).find(NativeLines("COMPORT= COM5\n")), std::string::npos);
}

TEST_F(PortSelection, ChoosingNoneClosesAndKeepsThePortNumber) {
    port.commPort = 4;
    port.open = true;
    Choose("None");
    EXPECT_EQ(port.events, (Events{"close"}));
    EXPECT_EQ(port.commPort, 4);
    EXPECT_EQ(Saved(), "None");
}

TEST_F(PortSelection, ChoosingNoneEndsTheRetriesOfAPortThatDidNotOpen) {
    port.missing = {5};
    Choose(" COM5");
    Choose("None");
    port.missing.clear();  // the device comes back
    now += 5'000;
    kept.Reopen();
    EXPECT_EQ(port.events, (Events{"port 5", "open 5"}));
    EXPECT_EQ(warnings, 1);
}

TEST_F(PortSelection, FirstStartOpensNothing) {
    EXPECT_EQ(Start(), "None");
    EXPECT_EQ(port.events, (Events{"settings 9600,n,8,1"}));
    EXPECT_FALSE(std::filesystem::exists(ini));
}

TEST_F(PortSelection, SavedPortThatIsNowMissingStaysClosedWithoutAMessage) {
    WriteFile(ini, "[SerialSync]\nCOMPORT=+COM3\n");
    port.missing = {3};
    EXPECT_EQ(Start(), "+COM3");
    EXPECT_EQ(port.events, (Events{"port 3", "settings 9600,n,8,1", "open 3"}));
    EXPECT_FALSE(port.open);
}

TEST_F(PortSelection, AnEmptySavedValueBecomesCom1AndOpensPort1) {
    WriteFile(ini, "[SerialSync]\nCOMPORT=\n");
    EXPECT_EQ(Start(), "COM1");
    EXPECT_EQ(port.events.back(), "open 1");
    EXPECT_TRUE(port.open);
}

TEST_F(PortSelection, ASavedTextThatNamesNoPortOpensNothing) {
    for (const char* saved : {"none", "+COM17", "COM 5", "+com5", "COM05", "xCOM5", "+COM0"}) {
        WriteFile(ini, std::string("[SerialSync]\nCOMPORT=") + saved + "\n");
        port = RecordingPort();
        EXPECT_EQ(Start(), saved);  // the list shows the text as it is
        EXPECT_EQ(port.events, (Events{"settings 9600,n,8,1"})) << saved;
    }
    Choose("+COM3");  // a real choice afterwards works as always
    EXPECT_EQ(port.events.back(), "open 3");
}

TEST_F(PortSelection, SavedPortNamesWithAMarkerOrNone) {
    EXPECT_EQ(SavedPortNumber("+COM3"), 3);
    EXPECT_EQ(SavedPortNumber(" COM16"), 16);
    EXPECT_EQ(SavedPortNumber("COM5"), 5);
    EXPECT_EQ(SavedPortNumber("None"), std::nullopt);
    EXPECT_EQ(SavedPortNumber("-COM5"), std::nullopt);
    EXPECT_EQ(SavedPortNumber("+COM5 "), std::nullopt);
}

TEST_F(PortSelection, AnUnmarkedChoiceComesBackAsTheSamePort) {
    Choose(" COM5");
    port = RecordingPort();
    EXPECT_EQ(Start(), "COM5");
    EXPECT_EQ(port.events, (Events{"port 5", "settings 9600,n,8,1", "open 5"}));
}

TEST_F(PortSelection, StartWritesNothingToTheSettingsFile) {
    const std::string before = "[SerialSync]\r\nCOMPORT = +COM3 \r\n";
    WriteFile(ini, before);
    Start();
    EXPECT_EQ(ReadFile(ini), before);
}
