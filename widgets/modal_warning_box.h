#pragma once

#include "panel/warning_box.h"

class QWidget;

namespace orvik {

class ModalWarningBox final : public WarningBox {
public:
    explicit ModalWarningBox(QWidget* parent = nullptr)
        : parent_(parent)
    {
    }
    void setParent(QWidget* parent) { parent_ = parent; }
    void show(const QString& text) override;

private:
    QWidget* parent_;
};

} // namespace orvik
