#pragma once

#include "panel/caption.h"

#include <QPushButton>

namespace orvik {

// A command button. Click comes from a left-button press and release on the
// button or from the keyboard; MouseDown and MouseUp come from the mouse
// alone, for any mouse button, with Button, Shift, X and Y (twips).
// A MouseDown is always followed by exactly one MouseUp: if the release is
// lost (the window is deactivated or hidden, the grab is taken away, the
// button is disabled or hidden) the MouseUp is delivered then.
class CommandButton : public QPushButton, public Caption {
    Q_OBJECT
public:
    explicit CommandButton(QWidget* parent = nullptr);

    QString caption() const override { return text(); }
    void setCaption(const QString& text) override { setText(text); }

signals:
    void Click();
    void MouseDown(int button, int shift, float x, float y);
    void MouseUp(int button, int shift, float x, float y);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void endLostHold();

    Qt::MouseButton held_ = Qt::NoButton;
    QPointF lastPos_;
};

} // namespace orvik
