#pragma once

#include <QString>

namespace orvik {

// The modal warning box: warning icon, one OK button, no title of its own.
// show() returns once the user has closed it.
class WarningBox {
public:
    virtual ~WarningBox() = default;
    virtual void show(const QString& text) = 0;
};

} // namespace orvik
