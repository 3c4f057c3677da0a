#pragma once

#include "panel/announcer.h"

#include <QWidget>

namespace orvik {

// A notice for screen readers only: no size, no focus, nothing drawn. Each
// announcement names it and shows it again, which a screen reader speaks
// as a notification; nothing an operator sees changes.
class SpokenNotice : public QWidget, public Announcer {
    Q_OBJECT
public:
    explicit SpokenNotice(QWidget* parent = nullptr);

    void announce(const QString& text) override;
};

} // namespace orvik
