#pragma once

#include "panel/caption.h"

#include <QLabel>

namespace orvik {

// A label. Its caption is always shown as plain text: whatever arrives on
// the serial line can never be taken for markup.
class Label : public QLabel, public Caption {
    Q_OBJECT
public:
    explicit Label(QWidget* parent = nullptr);

    QString caption() const override { return text(); }
    void setCaption(const QString& text) override;
};

} // namespace orvik
