#include "ui/port_list_box.h"

#include <QLineEdit>
#include <QWheelEvent>

#include "serial/device_identity.h"
#include "serial/port_selection.h"

PortListBox::PortListBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);  // inline completion turned "+co" + Enter into a choice of "+COM1"
    // Without this a wheel over the list takes the focus first and then steps the list.
    setFocusPolicy(Qt::StrongFocus);
    // Qt chooses the entry a finished edit matches, case-insensitively and also on leaving
    // the field; a choice here needs the exact text and Enter.
    disconnect(lineEdit(), &QLineEdit::editingFinished, this, nullptr);
    disconnect(lineEdit(), &QLineEdit::returnPressed, this, nullptr);
    connect(lineEdit(), &QLineEdit::returnPressed, this, &PortListBox::ChooseTypedText);
}

int PortListBox::EntryFor(const QString& shown) const {
    int index = findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        return index;
    }
    // A saved " COM5" comes back as "COM5", and a saved "+COM3" may now be listed " COM3":
    // either is still that port's entry.
    if (auto number = SavedPortNumber(shown.toStdString())) {
        for (int entry = 0; entry < count(); ++entry) {
            if (PortNumberFromEntry(itemText(entry).toStdString()) == number) {
                return entry;
            }
        }
    }
    return -1;
}

void PortListBox::SelectShownEntry() {
    QString shown = currentText();
    int index = EntryFor(shown);
    if (index >= 0 && index != currentIndex()) {
        setCurrentIndex(index);
    }
    if (currentText() != shown) {
        setEditText(shown);
    }
}

void PortListBox::SetEntryTip(int index, int number, const std::string& device) {
    std::string name = "COM" + std::to_string(number);
    // Windows' \\.\COMn is the entry's own name.
    std::string shown = device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
    QStringList lines{
        QString::fromStdString(shown.empty() || shown == name ? name : name + ": " + shown)};
    DeviceIdentity identity = IdentifyDevice(device);
    std::string maker = identity.manufacturer;
    if (!identity.serialNumber.empty()) {
        maker +=
            (maker.empty() ? "" : ", ") + std::string("serial number ") + identity.serialNumber;
    }
    for (const std::string& line : {identity.description, maker, identity.byId}) {
        if (!line.empty() && line != shown) {
            lines << QString::fromStdString(line);
        }
    }
    setItemData(index, lines.join('\n'), Qt::ToolTipRole);
}

void PortListBox::wheelEvent(QWheelEvent* event) {
    if (!hasFocus()) {
        event->ignore();  // goes on to the window, as in other desktop programs
        return;
    }
    QComboBox::wheelEvent(event);
}

void PortListBox::ChooseTypedText() {
    int index = findText(currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        setCurrentIndex(index);
        emit activated(index);
    }
}
