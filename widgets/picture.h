#pragma once

#include <QLabel>
#include <QPixmap>

namespace orvik {

// A picture shown unscaled at its natural size.
class Picture : public QLabel {
    Q_OBJECT
public:
    explicit Picture(QWidget* parent = nullptr)
        : QLabel(parent)
    {
        setFocusPolicy(Qt::NoFocus);
    }
    void setBitmap(const QPixmap& pixmap)
    {
        setPixmap(pixmap);
        resize(pixmap.size());
    }
};

} // namespace orvik
