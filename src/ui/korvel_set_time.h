#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>

#include "clock/clock_setter.h"
#include "clock/pc_clock.h"
#include "qtcore/mark_timer.h"
#include "serial/device_probe.h"
#include "serial/port_list.h"
#include "serial/serial_port.h"
#include "ui/port_list_box.h"

class OptionPairKeys;
class TrayIcon;

// What the window needs from the world, so tests can stand in for each part.
struct WindowParts {
    const PcClock& clock;
    SerialPort& port;  // MSComm1
    std::filesystem::path programDirectory;
    AvailabilityProbe probe;
    std::function<void()> warn;  // empty: the window's own message box
    std::function<void()> end;   // ends the program once the window has unloaded
    // Port n's device, for the list's tips; empty: the entries have none.
    std::function<std::string(std::int16_t)> deviceOf = {};
    // Why a device cannot be had, for the warning; empty: ProbeDevice.
    std::function<DeviceProbe(const std::string&)> probeDevice = {};
    // For the tray's notifications; empty: the steady clock.
    std::function<std::int64_t()> steadyMilliseconds = {};
};

// The program's one window. Every control keeps the short name it has always had, also as
// its objectName.
class KorvelSetTime : public QWidget {
  public:
    explicit KorvelSetTime(WindowParts parts, QWidget* parent = nullptr);
    ~KorvelSetTime() override;

    // Brings every part into its working state, in order, before the window is first shown.
    // Continues on error: a step that fails is skipped and the next one runs.
    void Load();

    // "Close and Exit".
    void CloseAndExit();

    // Another start of the program found this copy running: show the window as the tray icon
    // does, brought to the front, also from a minimised state.
    void ShowOnRequest();

    bool trayIconShown() const;
    TrayIcon& tray() { return *tray_; }
    const std::optional<bool>& utcMode() const { return setter_.utcMode(); }

    MarkTimer SendUDP;
    MarkTimer Timer1;
    QLineEdit* Text1;
    QRadioButton* Option1[2];
    PortListBox* Combo2;
    QCheckBox* AutoStart;
    QLineEdit* txtPCtime;
    QPushButton* Command4;
    QPushButton* Command1;
    QLabel* lblVersion;
    QLabel* Label3;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label5;
    QLabel* Label10;
    QLabel* Label8;
    QLabel* Label6;

  protected:
    // The unload step, whatever asks the window to close.
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void CreateControls();
    void ShowPcTime();
    void FillPortList();
    void ChoosePort(int index);
    void SelectOption(int index);
    void MirrorTimeReference();
    void ShowFromTray();
    void ShowSendingState();
    void Warn();
    QString WarningCause();

    WindowParts parts_;
    std::filesystem::path settingsFile_;
    ClockSetter setter_;  // with MSComm1, kept open while a port is chosen
    OptionPairKeys* optionKeys_ = nullptr;
    std::unique_ptr<TrayIcon> tray_;
    bool unloaded_ = false;
    bool shownBefore_ = false;
};

// "Version 1.0.2".
QString VersionText();
