#include "ui/korvel_set_time.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QWheelEvent>

#include "desktop/tray_icon.h"
#include "log/event_log.h"
#include "settings/settings_file.h"
#include "support/as_user.h"
#include "support/fake_clock.h"
#include "support/recording_port.h"
#include "support/temp_dir.h"
#include "support/time_zone.h"

using Events = std::vector<std::string>;

class Window : public ::testing::Test {
  protected:
    ScopedTimeZone zone{"UTC0"};
    TempDir dir;
    std::filesystem::path ini = settingsFilePath(dir.path());
    FakeClock clock{UtcInstant(2026, 12, 6, 14, 5, 9)};
    RecordingPort port;
    std::set<int> available{3};
    bool probeThrows = false;            // makes the load's "fill port list" step fail
    std::function<void()> whileFilling;  // what the test looks at as the list is filled
    int warnings = 0;
    std::function<std::string(std::int16_t)> ports = [this](int n) {
        return n == 5 ? port.device : "";
    };
    std::unique_ptr<KorvelSetTime> window;

    void Create(bool useMessageBox = false) {
        std::function<void()> warn;
        if (!useMessageBox) {
            warn = [this] { ++warnings; };
        }
        window =
            std::make_unique<KorvelSetTime>(WindowParts{clock,
                                                        port,
                                                        dir.path(),
                                                        [this](std::int16_t n) {
                                                            if (whileFilling) {
                                                                whileFilling();
                                                            }
                                                            if (probeThrows) {
                                                                throw std::runtime_error("probe");
                                                            }
                                                            return available.count(n) > 0;
                                                        },
                                                        warn,
                                                        {},
                                                        ports});
    }
    void Start(bool useMessageBox = false) {
        Create(useMessageBox);
        window->Load();
        window->show();
    }
    template <typename Control>
    Control* Find(const char* name) {
        return window->findChild<Control*>(name);
    }
    std::string Saved(const char* key) { return ReadIniValue("SerialSync", key, "-", ini); }
};

TEST_F(Window, EveryControlHasItsTextPlaceAndVisibility) {
    Start();
    EXPECT_EQ(window->windowTitle(), "Beamclock");
    EXPECT_EQ(window->size(), QSize(383, 229));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());  // not resizable
    EXPECT_FALSE(window->windowIcon().isNull());

    struct Expected {
        const char* name;
        QString text;
        QRect place;
        bool visible;
    };
    const Expected controls[] = {
        {"Text1", "", QRect(24, 48, 37, 21), false},  // Text1 already holds a packet
        {"Combo2", "None", QRect(32, 96, 77, 21), true},
        {"AutoStart", "Auto-run at Windows Startup", QRect(14, 160, 103, 27), false},
        {"Command4", "Hide Program", QRect(152, 162, 75, 25), false},
        {"Command1", "Close and Exit", QRect(270, 162, 85, 25), true},
        {"lblVersion", "Version 1.0.2", QRect(256, 208, 121, 17), true},
        {"Label3", "\"+\" = available port", QRect(24, 136, 121, 17), true},
        {"Label1", "Send UTC or Local Time", QRect(184, 120, 145, 17), true},
        {"Label2", "Version 1.0.2", QRect(282, 420, 83, 15), true},
        {"Label5", "Korvel, Inc.", QRect(8, 208, 151, 17), true},
        {"Label10", "IR Emitter Com Port", QRect(24, 120, 113, 15), true},
        {"Label8", "PC Local Time and Date", QRect(136, 72, 133, 17), true},  // widened to fit
        {"Label6", "Set Clock Time Using USB-IR Emitter", QRect(48, 8, 311, 27), true},
    };
    for (const Expected& control : controls) {
        QWidget* widget = window->findChild<QWidget*>(control.name);
        ASSERT_NE(widget, nullptr) << control.name;
        EXPECT_EQ(widget->geometry(), control.place) << control.name;
        EXPECT_EQ(widget->isVisible(), control.visible) << control.name;
        QString text =
            widget->property(qobject_cast<QComboBox*>(widget) ? "currentText" : "text").toString();
        if (!control.text.isEmpty()) {
            EXPECT_EQ(text, control.text) << control.name;
        }
    }
    EXPECT_EQ(window->Option1[0]->text(), "UTC");
    EXPECT_EQ(window->Option1[0]->geometry(), QRect(168, 104, 65, 17));
    EXPECT_EQ(window->Option1[1]->text(), "LOCAL");
    EXPECT_EQ(window->Option1[1]->geometry(), QRect(264, 104, 61, 15));
    EXPECT_EQ(window->findChildren<QRadioButton*>("Option1").size(), 2);
    // Label2 lies below the client area and is never seen.
    EXPECT_GT(window->Label2->y(), window->height());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(Window, TabOrderFollowsTheTabIndexes) {
    Start();
    // The UTC/LOCAL pair is one tab stop: the selected button, LOCAL at a first start.
    QWidget* expected[] = {window->Command1,  window->Command4, window->txtPCtime,
                           window->AutoStart, window->Combo2,   window->Option1[1],
                           window->Text1};
    for (std::size_t i = 0; i + 1 < std::size(expected); ++i) {
        QWidget* next = expected[i]->nextInFocusChain();
        while (next->focusProxy() == expected[i] || next->parentWidget() == expected[i] ||
               !(next->focusPolicy() & Qt::TabFocus)) {
            next = next->nextInFocusChain();  // labels, and the combo box's own line edit
        }
        EXPECT_EQ(next, expected[i + 1]) << next->objectName().toStdString();
    }
}

TEST_F(Window, TimeDisplayShowsLocalTimeThreeBlanksAndDate) {
    Start();
    EXPECT_TRUE(window->Timer1.isActive());
    EXPECT_TRUE(window->SendUDP.isActive());
    EXPECT_EQ(window->Timer1.period(), 100);
    EXPECT_EQ(window->txtPCtime->text(), "14:05:09   12-06-2026");
    clock.Advance(1000);
    window->Timer1.Fire();
    EXPECT_EQ(window->txtPCtime->text(), "14:05:10   12-06-2026");
}

TEST_F(Window, LoadRunsEveryStepInOrder) {
    // Each step as the later ones find it: Timer1, the version labels and the tray are there
    // when the list is filled; the port is restored, its line set and opened after that; the
    // UTC/LOCAL choice is restored after the open.
    WriteFile(ini, "[SerialSync]\nCOMPORT=+COM3\nTIMEUTC=True\nTIMELOCAL=False\n");
    Events seen;
    auto look = [&](const char* at) {
        seen.push_back(std::string(at) + (window->Timer1.isActive() ? " Timer1" : "") +
                       (window->lblVersion->text().isEmpty() ? "" : " lblVersion") +
                       (window->trayIconShown() ? " tray" : "") +
                       (window->Label2->text().isEmpty() ? "" : " Label2") +
                       (window->Combo2->count() == 17 ? " list" : "") +
                       (window->Option1[0]->isChecked() ? " UTC" : ""));
    };
    whileFilling = [&] {
        if (seen.empty()) {
            look("fill:");
        }
    };
    port.onOpen = [&] { look("open:"); };
    Start();
    look("loaded:");
    EXPECT_EQ(seen, (Events{"fill: Timer1 lblVersion tray Label2",
                            "open: Timer1 lblVersion tray Label2 list",
                            "loaded: Timer1 lblVersion tray Label2 list UTC"}));
    EXPECT_EQ(port.events, (Events{"port 3", "settings 9600,n,8,1", "open 3"}));
    window->close();
    EXPECT_FALSE(window->trayIconShown());  // the unload step deleted it
}

TEST_F(Window, PortListHoldsNoneAndSixteenMarkedPorts) {
    Start();
    ASSERT_EQ(window->Combo2->count(), 17);
    EXPECT_EQ(window->Combo2->itemText(0), "None");
    EXPECT_EQ(window->Combo2->itemText(1), " COM1");
    EXPECT_EQ(window->Combo2->itemText(3), "+COM3");
    EXPECT_EQ(window->Combo2->itemText(16), " COM16");
}

TEST_F(Window, FirstStartOpensNothingSelectsLocalAndSavesIt) {
    Start();
    EXPECT_EQ(window->Combo2->currentText(), "None");
    EXPECT_EQ(port.events, (Events{"settings 9600,n,8,1"}));
    EXPECT_TRUE(window->Option1[1]->isChecked());
    EXPECT_FALSE(window->Option1[0]->isChecked());
    EXPECT_EQ(ReadFile(ini), "[SerialSync]\nTIMEUTC=False\nTIMELOCAL=True\n");
}

TEST_F(Window, SavedPortIsOpenedBeforeTheWindowShows) {
    WriteFile(ini, "[SerialSync]\nCOMPORT=+COM3\nTIMEUTC=True\nTIMELOCAL=False\n");
    Create();
    window->Load();
    EXPECT_EQ(port.events, (Events{"port 3", "settings 9600,n,8,1", "open 3"}));
    EXPECT_TRUE(port.open);
    EXPECT_EQ(window->Combo2->currentText(), "+COM3");
    EXPECT_TRUE(window->Option1[0]->isChecked());
    EXPECT_EQ(window->utcMode(), true);
}

TEST_F(Window, SavedPortThatIsMissingStaysClosedWithoutAMessage) {
    WriteFile(ini, "[SerialSync]\nCOMPORT=+COM3\n");
    port.missing = {3};
    available.clear();
    Start(true);  // a message box would block the test
    EXPECT_FALSE(port.open);
    EXPECT_EQ(window->Combo2->currentText(), "+COM3");
    EXPECT_EQ(window->Combo2->itemText(3), " COM3");
}

TEST_F(Window, EmptySavedPortOpensPort1AndOneThatNamesNoPortOpensNothing) {
    WriteFile(ini, "[SerialSync]\nCOMPORT=\n");
    Start();
    EXPECT_EQ(window->Combo2->currentText(), "COM1");
    EXPECT_EQ(port.events.back(), "open 1");

    WriteFile(ini, "[SerialSync]\nCOMPORT=+COM17\n");
    port = RecordingPort();
    Start();
    EXPECT_EQ(window->Combo2->currentText(), "+COM17");
    EXPECT_EQ(port.events, (Events{"settings 9600,n,8,1"}));
}

TEST_F(Window, BothTimeKeysTrueEndsInUtcAndBothFalseSelectsNothing) {
    WriteFile(ini, "[SerialSync]\nTIMEUTC=True\nTIMELOCAL=True\n");
    Start();
    EXPECT_TRUE(window->Option1[0]->isChecked());
    EXPECT_FALSE(window->Option1[1]->isChecked());
    EXPECT_EQ(Saved("TimeLocal"), "False");

    WriteFile(ini, "[SerialSync]\nTIMEUTC=False\nTIMELOCAL=False\n");
    Start();
    EXPECT_FALSE(window->Option1[0]->isChecked());
    EXPECT_FALSE(window->Option1[1]->isChecked());
    EXPECT_EQ(window->utcMode(), std::nullopt);
}

TEST_F(Window, ChoosingAnEntryByKeyboardOpensThatPortAndSavesIt) {
    Start();
    window->Combo2->setFocus();
    window->Combo2->showPopup();
    QAbstractItemView* list = window->Combo2->view();
    list->setCurrentIndex(list->model()->index(2, 0));
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(window->Combo2->currentText(), "+COM3");
    EXPECT_EQ(port.events.back(), "open 3");
    EXPECT_EQ(Saved("COMPORT"), "+COM3");
}

TEST_F(Window, TypingIntoThePortListRunsNothing) {
    Start();
    port.events.clear();
    QTest::keyClicks(window->Combo2->lineEdit(), "COM9");
    EXPECT_TRUE(port.events.empty());
    EXPECT_EQ(Saved("COMPORT"), "-");
}

TEST_F(Window, AFailedChoiceShowsTheWarningWithItsCauseAndIsStillSaved) {
    port.device = (dir.path() / "ttyS4").string();  // root's, a port this user may not open
    WriteFile(port.device, "");
    std::filesystem::permissions(port.device, std::filesystem::perms::owner_write);
    GiveToUnprivileged(dir.path());
    Log() = EventLog([] { return UtcInstant(2026, 12, 6, 14, 5, 9) * 1000; });
    FileAccessAsUnprivileged user;
    Start(true);
    EXPECT_EQ(window->Combo2->itemData(5, Qt::ToolTipRole).toString().toStdString(),
              "COM5: " + port.device);
    window->SendUDP.Fire();
    EXPECT_EQ(window->tray().icon().toolTip(), "Set PC Time from GPS\nNo port chosen");
    port.missing = {5};
    QString seenText, seenTitle, seenCause;
    QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seenText = box->text();
        seenTitle = box->windowTitle();
        seenIcon = box->icon();
        seenCause = box->informativeText();
        EXPECT_EQ(box->buttons().size(), 1);
        box->button(QMessageBox::Ok)->click();
    });
    window->Combo2->activated(5);  // what the combo box says when the user picks " COM5"
    EXPECT_EQ(seenText, "Please check your comm settings");
    EXPECT_EQ(seenTitle, "ERROR");
    EXPECT_EQ(seenIcon, QMessageBox::Warning);
    EXPECT_EQ(seenCause.toStdString(),
              port.device +
                  ": permission denied (mode 0200, owner root, group root): nobody may open it; "
                  "an administrator must change the device's permissions (a udev rule), for "
                  "instance to group dialout with mode 0660.\n\nbeamclock-doctor tells more, "
                  "and what to do.");
    EXPECT_FALSE(port.open);
    EXPECT_EQ(Saved("COMPORT"), "COM5");  // " COM5", read back without its blank
    window->SendUDP.Fire();
    EXPECT_EQ(window->tray().icon().toolTip().toStdString(),
              "Set PC Time from GPS\nCOM5 (" + port.device +
                  "): permission denied (mode 0200, group root) since 14:05:09, not sending");
    Log() = EventLog();
}

TEST_F(Window, OptionButtonsSwitchTheModeAndStaySelectedWhenClickedAgain) {
    Start();
    QTest::mouseClick(window->Option1[0], Qt::LeftButton);
    EXPECT_TRUE(window->Option1[0]->isChecked());
    EXPECT_FALSE(window->Option1[1]->isChecked());
    EXPECT_EQ(window->utcMode(), true);
    EXPECT_EQ(Saved("TimeUTC"), "True");
    QTest::mouseClick(window->Option1[0], Qt::LeftButton);
    EXPECT_TRUE(window->Option1[0]->isChecked());
    QTest::mouseClick(window->Option1[1], Qt::LeftButton);
    EXPECT_EQ(window->utcMode(), false);
    EXPECT_EQ(Saved("TimeLocal"), "True");
}

TEST_F(Window, TransmissionTickFillsText1AndWritesOnEvenSeconds) {
    WriteFile(ini, "[SerialSync]\nCOMPORT=+COM3\n");
    clock.Set(UtcInstant(2026, 12, 6, 14, 5, 10));
    Start();
    window->SendUDP.Fire();
    EXPECT_EQ(window->Text1->text(), "*100514061220260000000001000000000#");
    EXPECT_EQ(port.writes, (Events{"*100514061220260000000001000000000#"}));
}

TEST_F(Window, CloseAndExitClosesThePort) {
    WriteFile(ini, "[SerialSync]\nCOMPORT=+COM3\n");
    Start();
    QTest::mouseClick(window->Command1, Qt::LeftButton);
    EXPECT_FALSE(port.open);
    EXPECT_EQ(port.events.back(), "close");
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->trayIconShown());
}

// The port list and the option pair answer the keyboard and the mouse as a user expects.
class PortListInput : public Window {
  protected:
    void SetUp() override {
        WriteFile(ini, "[SerialSync]\nCOMPORT=+COM3\nTIMEUTC=False\nTIMELOCAL=True\n");
        available = {3, 4};
        Start(true);  // any message box would block the test: none may appear
        port.events.clear();
        saved = ReadFile(ini);
    }
    // Where the pointer's wheel ends up: the field inside ignores it, so it reaches the list.
    void Wheel(int notches) {
        QWheelEvent wheel(QPointF(10, 10), window->Combo2->mapToGlobal(QPointF(10, 10)), QPoint(),
                          QPoint(0, -120 * notches), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(window->Combo2, &wheel);
    }
    void Focus(QWidget* widget) {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        widget->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(widget->hasFocus());
    }
    void Type(const QString& text) {
        window->Combo2->lineEdit()->clear();
        QTest::keyClicks(window->Combo2, text);  // the list passes keys on to its field
        QTest::keyClick(window->Combo2, Qt::Key_Return);
    }
    std::string saved;
};

TEST_F(PortListInput, TheRestoredEntryIsTheListsCurrentOne) {
    EXPECT_EQ(window->Combo2->currentIndex(), 3);
    EXPECT_EQ(window->Combo2->currentText(), "+COM3");
}

TEST_F(PortListInput, AWheelOverTheUnfocusedListChangesNothing) {
    Wheel(1);
    Wheel(-1);
    EXPECT_TRUE(port.events.empty());
    EXPECT_EQ(window->Combo2->currentText(), "+COM3");
    EXPECT_EQ(ReadFile(ini), saved);
    EXPECT_EQ(window->Combo2->focusPolicy(), Qt::StrongFocus);  // a wheel does not take the focus
}

TEST_F(PortListInput, WheelAndArrowsWithFocusStepFromTheShownEntryAndAreChoices) {
    Focus(window->Combo2);
    Wheel(1);
    EXPECT_EQ(window->Combo2->currentText(), "+COM4");
    EXPECT_EQ(port.events, (Events{"close", "port 4", "open 4"}));
    EXPECT_EQ(Saved("COMPORT"), "+COM4");

    QTest::keyClick(window->Combo2, Qt::Key_Up);
    QTest::keyClick(window->Combo2, Qt::Key_Up);
    EXPECT_EQ(window->Combo2->currentText(), " COM2");
    EXPECT_EQ(port.events.back(), "open 2");
    EXPECT_EQ(Saved("COMPORT"), "COM2");
}

TEST_F(PortListInput, ASavedTextWithoutTheEntrysMarkerStillStepsFromItsPort) {
    WriteFile(ini, "[SerialSync]\nCOMPORT= COM5\n");  // reads back as "COM5"
    Start(true);
    Focus(window->Combo2);
    QTest::keyClick(window->Combo2, Qt::Key_Down);
    EXPECT_EQ(window->Combo2->currentText(), " COM6");
    EXPECT_EQ(port.events.back(), "open 6");

    WriteFile(ini, "[SerialSync]\nCOMPORT=+COM5\n");  // COM5 is now listed " COM5"
    Start(true);
    Focus(window->Combo2);
    QTest::keyClick(window->Combo2, Qt::Key_Up);
    EXPECT_EQ(window->Combo2->currentText(), "+COM4");
}

TEST_F(PortListInput, EnterChoosesOnlyAnEntrysExactText) {
    for (const char* typed : {"+co", "none", "+com3", "COM3"}) {
        Type(typed);
        EXPECT_TRUE(port.events.empty()) << typed;
        EXPECT_EQ(window->Combo2->currentText(), typed);  // no inline completion either
    }
    EXPECT_EQ(ReadFile(ini), saved);

    Type("+COM4");
    EXPECT_EQ(port.events, (Events{"close", "port 4", "open 4"}));
    EXPECT_EQ(Saved("COMPORT"), "+COM4");
}

TEST_F(PortListInput, LeavingTheFieldAfterTypingAnEntryChoosesNothing) {
    Focus(window->Combo2);
    window->Combo2->lineEdit()->setText("+COM4");
    window->Command1->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(port.events.empty());
    EXPECT_EQ(ReadFile(ini), saved);
}

TEST_F(PortListInput, OptionPairIsOneTabStopAndArrowsSelect) {
    EXPECT_EQ(window->Option1[1]->focusPolicy(), Qt::StrongFocus);  // LOCAL is selected
    EXPECT_FALSE(window->Option1[0]->focusPolicy() & Qt::TabFocus);

    Focus(window->Option1[1]);
    QTest::keyClick(window->Option1[1], Qt::Key_Left);
    EXPECT_TRUE(window->Option1[0]->hasFocus());
    EXPECT_TRUE(window->Option1[0]->isChecked());
    EXPECT_FALSE(window->Option1[1]->isChecked());
    EXPECT_EQ(window->utcMode(), true);
    EXPECT_EQ(Saved("TimeUTC"), "True");
    EXPECT_EQ(window->Option1[0]->focusPolicy(), Qt::StrongFocus);  // the stop moved along
    EXPECT_FALSE(window->Option1[1]->focusPolicy() & Qt::TabFocus);

    QTest::keyClick(window->Option1[0], Qt::Key_Down);  // wraps round to LOCAL
    EXPECT_TRUE(window->Option1[1]->isChecked());
    EXPECT_EQ(Saved("TimeLocal"), "True");
}

TEST_F(Window, NeitherOptionSelectedIsShownAndTheFirstIsTheTabStop) {
    WriteFile(ini, "[SerialSync]\nTIMEUTC=False\nTIMELOCAL=False\n");
    Start();
    EXPECT_FALSE(window->Option1[0]->isChecked());
    EXPECT_FALSE(window->Option1[1]->isChecked());
    EXPECT_EQ(window->Option1[0]->focusPolicy(), Qt::StrongFocus);
}

TEST_F(Window, TrayIconTipAndShowActionAlsoFromMinimised) {
    Create();  // Timer1 not yet enabled, so the show action must do it
    EXPECT_EQ(window->tray().icon().toolTip(), "Set PC Time from GPS");
    window->showMinimized();
    emit window->tray().icon().activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->Timer1.isActive());
    window->hide();
    emit window->tray().icon().activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(Window, LoadGoesOnAfterAStepFails) {
    WriteFile(ini, "[SerialSync]\nCOMPORT=+COM3\nTIMEUTC=True\nTIMELOCAL=False\n");
    probeThrows = true;
    Start();
    EXPECT_EQ(window->Combo2->count(), 0);  // the step that threw
    EXPECT_EQ(window->utcMode(), true);     // the last step ran
    EXPECT_EQ(port.events.back(), "open 3");
    EXPECT_TRUE(window->Option1[0]->isChecked());
    EXPECT_EQ(warnings, 0);
}

TEST(TrayActivation, PressesAndDoubleClicksShowTheWindow) {
    EXPECT_TRUE(TrayActivationShows(QSystemTrayIcon::Trigger));      // left press
    EXPECT_TRUE(TrayActivationShows(QSystemTrayIcon::Context));      // right press
    EXPECT_TRUE(TrayActivationShows(QSystemTrayIcon::DoubleClick));  // left double-click
    EXPECT_FALSE(TrayActivationShows(QSystemTrayIcon::MiddleClick));
    EXPECT_FALSE(TrayActivationShows(QSystemTrayIcon::Unknown));
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
