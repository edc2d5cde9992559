#pragma once

#include <QComboBox>
#include <string>

// The editable port list. Only a deliberate choice of an entry is reported as activated():
// picked from the open list, stepped to with Up/Down or a wheel while the list has focus,
// or typed exactly (case included) and confirmed with Enter. A wheel that merely passes
// over the list scrolls whatever lies under it, and nothing is completed inline.
class PortListBox : public QComboBox {
  public:
    explicit PortListBox(QWidget* parent = nullptr);

    // Makes the entry whose text the field shows, or else the entry of the port that text
    // names, the current one, so a step goes from what the user sees. The text stays as it is.
    void SelectShownEntry();

    // The entry's tip: port number's device and what the system knows of it, a thing a line,
    // so that a user can tell which port is the emitter.
    void SetEntryTip(int index, int number, const std::string& device);

  protected:
    void wheelEvent(QWheelEvent* event) override;

  private:
    int EntryFor(const QString& shown) const;
    void ChooseTypedText();
};
