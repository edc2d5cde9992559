#pragma once

#include <QObject>
#include <functional>

class QRadioButton;

// Keyboard for the UTC/LOCAL pair as on the platform the program comes from: one tab stop
// (the selected button, or the first when neither is), and an arrow key moves to the other
// button and selects it, which is a click. Neither button selected can still be shown.
class OptionPairKeys : public QObject {
  public:
    OptionPairKeys(QRadioButton* first, QRadioButton* second, std::function<void(int)> select,
                   QObject* parent = nullptr);

    // After every change of the buttons' values: moves the tab stop to the selected one.
    void Update();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QRadioButton* buttons_[2];
    std::function<void(int)> select_;
};
