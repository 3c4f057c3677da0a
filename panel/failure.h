#pragma once

#include <QString>

namespace orvik {

// The current failure of a serial-control operation: a handler carries on
// after a failed step and reads this afterwards. Number 0 means none.
struct Failure {
    int number = 0;
    QString description;

    void raise(int n, const QString& text)
    {
        number = n;
        description = text;
    }
    void clear() { *this = Failure{}; }
    explicit operator bool() const { return number != 0; }
};

} // namespace orvik
