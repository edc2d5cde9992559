#include "ui/korvel_set_time.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>

#include "desktop/tray_icon.h"
#include "log/event_log.h"
#include "serial/port_selection.h"
#include "settings/settings_file.h"
#include "settings/settings_location.h"
#include "ui/app_icon.h"
#include "ui/option_pair.h"
#include "version.h"

namespace {

// The window was laid out in twips: 15 to a pixel at 96 dots per inch.
QRect Twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

template <typename Control>
Control* Place(QWidget* parent, const char* name, const QRect& where,
               const QString& text = QString()) {
    auto* control = new Control(parent);
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(where);
    if constexpr (requires { control->setText(text); }) {
        control->setText(text);
    }
    return control;
}

// The layout was made for an 8 point sans-serif; larger text would be cut off.
QFont SansSerif(qreal points, bool bold = false) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// Platform fonts run wider than the one the layout was drawn for: shrink rather than cut.
void ShrinkToFit(QWidget* control, const QString& text) {
    QFont font = control->font();
    while (font.pointSizeF() > 6 &&
           QFontMetrics(font).horizontalAdvance(text) > control->width() - 4) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    control->setFont(font);
}

// A caption a little wider in the platform's font than the place it was given: widened to the
// right, with a pixel to spare for the last letter, so that its text starts where it always did.
void WidenToFit(QLabel* label) {
    int needed = QFontMetrics(label->font()).horizontalAdvance(label->text()) + 2;
    if (needed > label->width()) {
        label->resize(needed, label->height());
    }
}

}  // namespace

QString VersionText() {
    return QStringLiteral("Version ") + QString::fromLatin1(kVersion);
}

KorvelSetTime::KorvelSetTime(WindowParts parts, QWidget* parent)
    : QWidget(parent),
      parts_(std::move(parts)),
      settingsFile_(settingsFilePath(parts_.programDirectory)),
      setter_(parts_.clock, parts_.port, settingsFile_, [this](const std::string& packet) {
          Text1->setText(QString::fromStdString(packet));
      }) {
    setObjectName("KorvelSetTime");
    setWindowTitle("Beamclock");
    setWindowIcon(BeamclockIcon());
    setFixedSize(Twips(0, 0, 5745, 3435).size());
    // Of fixed size, so nothing to maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(SansSerif(8));
    CreateControls();

    SendUDP.setObjectName("SendUDP");
    SendUDP.OnTimeout([this] {
        setter_.Tick();
        ShowSendingState();
    });
    SendUDP.OnClockSet([this](std::int64_t step) { setter_.ClockWasSet(step); });
    SendUDP.Start();  // enabled from the window's creation; its first tick follows the load

    Timer1.setObjectName("Timer1");
    Timer1.OnTimeout([this] { ShowPcTime(); });

    setter_.timeReference().onChanged = [this] { MirrorTimeReference(); };
    TrayLooks looks{windowIcon(), BeamclockIcon(IconMark::Warning),
                    BeamclockIcon(IconMark::Dimmed)};
    tray_ = std::make_unique<TrayIcon>(looks, [this] { ShowFromTray(); });
}

KorvelSetTime::~KorvelSetTime() = default;

void KorvelSetTime::CreateControls() {
    Text1 = Place<QLineEdit>(this, "Text1", Twips(360, 720, 555, 315), "Text1");
    QFont courier = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    courier.setPointSizeF(9.75);
    Text1->setFont(courier);
    Text1->setVisible(false);

    Option1[1] = Place<QRadioButton>(this, "Option1", Twips(3960, 1560, 915, 225), "LOCAL");
    Option1[0] = Place<QRadioButton>(this, "Option1", Twips(2520, 1560, 975, 255), "UTC");
    for (int index : {0, 1}) {
        Option1[index]->setProperty("index", index);
        Option1[index]->setAutoExclusive(false);  // the core keeps the pair exclusive
        connect(Option1[index], &QRadioButton::clicked, this,
                [this, index] { SelectOption(index); });
    }
    optionKeys_ = new OptionPairKeys(
        Option1[0], Option1[1], [this](int index) { SelectOption(index); }, this);

    Combo2 = Place<PortListBox>(this, "Combo2", Twips(480, 1440, 1155, 315));
    Combo2->setEditText("None");
    // Only the user's choice of an entry counts; text set from code never does.
    connect(Combo2, &QComboBox::activated, this, &KorvelSetTime::ChoosePort);

    AutoStart = Place<QCheckBox>(this, "AutoStart", Twips(210, 2400, 1545, 405),
                                 "Auto-run at Windows Startup");
    AutoStart->setVisible(false);

    txtPCtime = Place<QLineEdit>(this, "txtPCtime", Twips(1320, 720, 3255, 315), "Text1");
    txtPCtime->setFont(SansSerif(12, true));
    txtPCtime->setReadOnly(true);
    ShrinkToFit(txtPCtime, "00:00:00   00-00-0000");

    Command4 = Place<QPushButton>(this, "Command4", Twips(2280, 2430, 1125, 375), "Hide Program");
    Command4->setVisible(false);
    Command1 = Place<QPushButton>(this, "Command1", Twips(4050, 2430, 1275, 375), "Close and Exit");
    connect(Command1, &QPushButton::clicked, this, &KorvelSetTime::CloseAndExit);

    lblVersion = Place<QLabel>(this, "lblVersion", Twips(3840, 3120, 1815, 255), "");
    Label3 = Place<QLabel>(this, "Label3", Twips(360, 2040, 1815, 255), "\"+\" = available port");
    Label1 = Place<QLabel>(this, "Label1", Twips(2760, 1800, 2175, 255), "Send UTC or Local Time");
    Label2 = Place<QLabel>(this, "Label2", Twips(4230, 6300, 1245, 225), "");
    Label5 = Place<QLabel>(this, "Label5", Twips(120, 3120, 2265, 255), "Korvel, Inc.");
    Label10 = Place<QLabel>(this, "Label10", Twips(360, 1800, 1695, 225), "IR Emitter Com Port");
    Label8 = Place<QLabel>(this, "Label8", Twips(2040, 1080, 1935, 255), "PC Local Time and Date");
    Label6 = Place<QLabel>(this, "Label6", Twips(720, 120, 4665, 405),
                           "Set Clock Time Using USB-IR Emitter");
    for (QLabel* caption : {Label3, Label1, Label5, Label10, Label8}) {
        WidenToFit(caption);
    }
    Label6->setFont(SansSerif(12, true));
    Label6->setAlignment(Qt::AlignCenter);
    ShrinkToFit(Label6, Label6->text());

    // Tab order by the controls' tab indexes; labels take no focus.
    QWidget* order[] = {Command1, Command4,   txtPCtime,  AutoStart,
                        Combo2,   Option1[0], Option1[1], Text1};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }
}

void KorvelSetTime::Load() {
    // Before the steps, whose writes fail for the same cause and say so.
    setter_.SayIfUnreadable();
    const std::function<void()> windowSteps[] = {
        [this] { Timer1.Start(); },
        [this] { lblVersion->setText(VersionText()); },
        [this] { TakeOutOfTaskbar(*this); },
        [this] { tray_->Add(); },
        [this] { Label2->setText(VersionText()); },
        [this] { FillPortList(); },
    };
    for (const auto& step : windowSteps) {
        ContinueOnError(step);
    }
    // The port and the mode, as the service restores them; the list shows the restored text.
    Combo2->setEditText(QString::fromStdString(setter_.Load()));
    Combo2->SelectShownEntry();
    ShowPcTime();  // the first display need not wait for Timer1
    SettingsLocation where = LocateSettings(settingsFile_);
    Log().Started(kVersion, where.read, Describe(where.why), Combo2->currentText().toStdString(),
                  setter_.utc());
}

void KorvelSetTime::ShowPcTime() {
    PcClockReading now = parts_.clock.Read();
    QString text = QString::fromStdString(now.timeText + "   " + now.dateText);
    if (text != txtPCtime->text()) {  // changes once a second; spare the nine repaints
        txtPCtime->setText(text);
    }
}

void KorvelSetTime::FillPortList() {
    for (const std::string& entry : PortListEntries(parts_.probe)) {
        Combo2->addItem(QString::fromStdString(entry));
        std::optional<std::int16_t> number = PortNumberFromEntry(entry);
        if (number && parts_.deviceOf) {
            Combo2->SetEntryTip(Combo2->count() - 1, *number, parts_.deviceOf(*number));
        }
    }
}

void KorvelSetTime::ChoosePort(int index) {
    QString entry = Combo2->itemText(index);
    Combo2->setEditText(entry);  // the chosen entry replaces whatever was typed
    Log().PortChosen(entry.toStdString());
    ChooseListEntry(entry.toStdString(), setter_.port(), settingsFile_, [this] { Warn(); });
    Combo2->SelectShownEntry();
}

void KorvelSetTime::SelectOption(int index) {
    setter_.timeReference().Select(index);
    Log().TimeChosen(setter_.utc());
    MirrorTimeReference();  // a click on the selected button must not clear it
}

void KorvelSetTime::MirrorTimeReference() {
    for (int index : {0, 1}) {
        Option1[index]->setChecked(setter_.timeReference().Selected(index));
    }
    optionKeys_->Update();
}

void KorvelSetTime::ShowFromTray() {
    setVisible(true);
    // Visible alone leaves a minimised window minimised, and without a taskbar button the
    // user could not reach it at all.
    if (isMinimized()) {
        showNormal();
    }
    raise();
    activateWindow();
    Timer1.Start();
}

void KorvelSetTime::ShowSendingState() {
    tray_->Follow(Log(), parts_.steadyMilliseconds ? parts_.steadyMilliseconds()
                                                   : KeptPort::SteadyClockMilliseconds());
}

void KorvelSetTime::ShowOnRequest() {
    Log().ShowRequested();
    ShowFromTray();
}

void KorvelSetTime::Warn() {
    if (parts_.warn) {
        parts_.warn();
        return;
    }
    QMessageBox box(QMessageBox::Warning, "ERROR", "Please check your comm settings",
                    QMessageBox::Ok, this);
    box.setInformativeText(WarningCause());
    box.exec();
}

// What failed is the open, in practice: the device as the probe finds it now, in the words the
// log uses, and where to learn more.
QString KorvelSetTime::WarningCause() {
    std::string device = setter_.port().Device();
    QString cause;
    if (!device.empty()) {
        DeviceProbe probe = parts_.probeDevice ? parts_.probeDevice(device) : ProbeDevice(device);
        cause = QString::fromStdString(device + ": " + ProbeAdvice(probe, device) + ".\n\n");
    }
    return cause + "beamclock-doctor tells more, and what to do.";
}

bool KorvelSetTime::trayIconShown() const {
    return tray_->IsShown();
}

void KorvelSetTime::CloseAndExit() {
    Log().Ended("Close and Exit");
    setter_.Stop();  // also ends the retries of a port that is not open
    close();
}

void KorvelSetTime::closeEvent(QCloseEvent* event) {
    if (!unloaded_) {
        unloaded_ = true;
        tray_->Delete();
    }
    event->accept();
    Log().Ended("the window was closed");
    // Without a taskbar button the window may not count as the last one: end explicitly.
    if (parts_.end) {
        parts_.end();
    }
}

void KorvelSetTime::showEvent(QShowEvent* event) {
    if (!shownBefore_ && screen() != nullptr) {
        shownBefore_ = true;
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen()->availableGeometry()));
    }
    QWidget::showEvent(event);
}
