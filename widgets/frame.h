#pragma once

#include <QFrame>

namespace orvik {

// A group frame: a bordered box without a caption of its own. Hiding it
// hides everything in it; option buttons inside it form one group.
class Frame : public QFrame {
    Q_OBJECT
public:
    explicit Frame(QWidget* parent = nullptr)
        : QFrame(parent)
    {
        setFrameStyle(QFrame::Box | QFrame::Sunken);
        setFocusPolicy(Qt::NoFocus);
    }
};

} // namespace orvik
