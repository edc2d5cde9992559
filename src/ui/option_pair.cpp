#include "ui/option_pair.h"

#include <QKeyEvent>
#include <QRadioButton>

OptionPairKeys::OptionPairKeys(QRadioButton* first, QRadioButton* second,
                               std::function<void(int)> select, QObject* parent)
    : QObject(parent), buttons_{first, second}, select_(std::move(select)) {
    for (QRadioButton* button : buttons_) {
        button->installEventFilter(this);
    }
    Update();
}

void OptionPairKeys::Update() {
    int stop = buttons_[1]->isChecked() && !buttons_[0]->isChecked() ? 1 : 0;
    buttons_[stop]->setFocusPolicy(Qt::StrongFocus);
    buttons_[1 - stop]->setFocusPolicy(Qt::ClickFocus);
}

bool OptionPairKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down: {
            // Two buttons: every direction leads to the other one, wrapping round.
            int other = watched == buttons_[0] ? 1 : 0;
            buttons_[other]->setFocus(Qt::TabFocusReason);
            select_(other);
            return true;
        }
        default:
            return false;
    }
}
