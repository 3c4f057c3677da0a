#pragma once

#include "panel/caption.h"

#include <QRadioButton>

namespace orvik {

// An option button. Buttons with the same parent exclude each other.
// Click is raised whenever the button becomes selected, by the user or by
// setValue(true), and runs before setValue returns.
class OptionButton : public QRadioButton, public Caption {
    Q_OBJECT
public:
    explicit OptionButton(QWidget* parent = nullptr);

    QString caption() const override { return text(); }
    void setCaption(const QString& text) override { setText(text); }
    bool value() const { return isChecked(); }
    void setValue(bool value) { setChecked(value); }

signals:
    void Click();
};

} // namespace orvik
