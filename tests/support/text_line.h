#pragma once

#include "panel/caption.h"

namespace orvik::test {

// A display line without a widget.
class TextLine final : public Caption {
public:
    QString caption() const override { return text; }
    void setCaption(const QString& t) override { text = t; }
    QString text;
};

} // namespace orvik::test
