#pragma once

#include "panel/warning_box.h"

#include <QStringList>

namespace orvik::test {

class RecordingWarningBox final : public WarningBox {
public:
    void show(const QString& text) override { shown.append(text); }
    QStringList shown;
};

} // namespace orvik::test
