#pragma once

#include <QString>

namespace orvik {

// Something that shows one line of text: a label, a button's face.
// The exchange engine writes the traffic lines through this.
class Caption {
public:
    virtual ~Caption() = default;
    virtual QString caption() const = 0;
    virtual void setCaption(const QString& text) = 0;
};

} // namespace orvik
