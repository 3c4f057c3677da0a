#pragma once

#include <QString>

namespace orvik {

// Where a short text goes to be spoken once by a screen reader, without
// taking the focus or changing what is seen. The exchange engine announces
// a decoded status through this.
class Announcer {
public:
    virtual ~Announcer() = default;
    virtual void announce(const QString& text) = 0;
};

} // namespace orvik
