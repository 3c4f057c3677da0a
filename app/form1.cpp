#include "app/form1.h"

#include "app/layout.h"
#include "commands/projector_commands.h"
#include "commands/status_decoder.h"
#include "serial/exchange_engine.h"
#include "ui/colors.h"
#include "ui/command_button.h"
#include "ui/fonts.h"
#include "ui/frame.h"
#include "ui/label.h"
#include "ui/line_shape.h"
#include "ui/option_button.h"
#include "ui/picture.h"
#include "ui/shift_state.h"
#include "ui/timer.h"

#include <QKeyEvent>

#include <algorithm>
#include <vector>

namespace orvik {
namespace {

#include "app/logo.xpm"

constexpr int px(int twips) { return (twips + layout::kTwipsPerPixel / 2) / layout::kTwipsPerPixel; }

QFont fontFor(layout::FontKey key)
{
    const layout::Font f = layout::font(key);
    return gothicFont(f.fixedPitch ? kFixedGothic : kProportionalGothic, f.points, f.bold);
}

Qt::Alignment alignmentFor(layout::Align align)
{
    switch (align) {
    case layout::Align::Right: return Qt::AlignRight | Qt::AlignTop;
    case layout::Align::Center: return Qt::AlignHCenter | Qt::AlignTop;
    case layout::Align::Left: break;
    }
    return Qt::AlignLeft | Qt::AlignTop;
}

void setColors(QWidget* widget, const layout::Control& row)
{
    // Each kind takes only its own roles, so that a frame's colours do not
    // leak into the buttons inside it.
    const bool button = row.kind == layout::Kind::Button;
    QPalette pal = widget->palette();
    if (row.backColor) {
        pal.setColor(button ? QPalette::Button : QPalette::Window, bgrColor(*row.backColor));
        widget->setAutoFillBackground(!button);
    }
    if (row.extra.foreColor)
        pal.setColor(button ? QPalette::ButtonText : QPalette::WindowText,
                     bgrColor(*row.extra.foreColor));
    widget->setPalette(pal);
}

} // namespace

Form1::Form1(Services services, QWidget* parent)
    : QWidget(parent)
    , warning_(services.warning)
    , quit_(std::move(services.quit))
{
    setObjectName(QStringLiteral("Form1"));
    buildWindow();
    buildControls();
    buildTimers(services.clock);
    comm_ = std::make_unique<MSComm>(std::move(services.device), std::move(services.ports), failure_);
    comm_->setObjectName(QStringLiteral("MSComm1"));

    frame8_ = find<Frame>("Frame8");
    command34_ = find<CommandButton>("Command34");
    option1_ = find<OptionButton>("Option1");
    auto* txd = find<Label>("Label11");
    auto* rxd = find<Label>("Label12");
    engine_ = std::make_unique<ExchangeEngine>(state_, *comm_, timer(2), timer(4),
                                               ExchangeEngine::Lines{*txd, *rxd, *find<Label>("Label25")});
    engine_->setDecoder(&decodeStatus);
    commands_ = std::make_unique<ProjectorCommands>(
        *engine_, ProjectorCommands::Timers{timer(1), timer(2), timer(4)},
        ProjectorCommands::Lines{*txd, *rxd});
    wireHandlers();
}

Form1::~Form1()
{
    // The controls outlive the handlers when the window is destroyed: what
    // they say on their way out (a hold ended by hiding) must not reach them.
    for (QWidget* control : std::as_const(controls_))
        control->disconnect(this);
    for (Timer* t : timers_)
        t->disconnect(this);
}

template <typename T> T* Form1::find(const char* name) const
{
    return qobject_cast<T*>(controls_.value(QLatin1String(name)));
}

Timer& Form1::timer(int number) const { return *timers_.at(std::size_t(number - 1)); }

void Form1::buildWindow()
{
    installGothicSubstitutes();
    const layout::Window& w = layout::window();
    setWindowTitle(QString::fromUtf8(w.caption));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, bgrColor(w.backColor));
    pal.setColor(QPalette::WindowText, bgrColor(w.foreColor));
    setPalette(pal);
    setAutoFillBackground(true);
    setFont(fontFor(w.font));
    setFixedSize(px(w.clientWidth), px(w.clientHeight));
    installEventFilter(this); // sees every key first, like the controls' filters
}

void Form1::buildControls()
{
    // Lines are drawn on the window itself, behind every control.
    for (const layout::Line& line : layout::lines()) {
        auto* shape = new LineShape(QLine(px(line.x1), px(line.y1), px(line.x2), px(line.y2)),
                                    bgrColor(layout::kLineColor), layout::kLineWidth, this);
        shape->setObjectName(QString::fromLatin1(line.name));
        controls_.insert(shape->objectName(), shape);
    }

    auto* image = new Picture(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->move(px(8160), 0);
    image->setBitmap(QPixmap(logo_xpm));
    controls_.insert(image->objectName(), image);

    std::vector<std::pair<int, QWidget*>> focusOrder;
    for (const layout::Control& row : layout::controls()) {
        QWidget* container = row.container == "Form1"
                                 ? this
                                 : controls_.value(QString::fromLatin1(row.container));
        Q_ASSERT(container);
        const QString caption = QString::fromUtf8(row.caption);
        QWidget* widget = nullptr;
        switch (row.kind) {
        case layout::Kind::Frame:
            widget = new Frame(container);
            break;
        case layout::Kind::Label: {
            auto* label = new Label(container);
            label->setCaption(caption);
            label->setAlignment(alignmentFor(row.extra.align));
            if (row.extra.singleBorder) {
                label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                label->setIndent(2);
            }
            widget = label;
            break;
        }
        case layout::Kind::Button: {
            auto* button = new CommandButton(container);
            button->setCaption(caption);
            widget = button;
            focusOrder.emplace_back(row.tabIndex, button);
            break;
        }
        case layout::Kind::Option: {
            auto* option = new OptionButton(container);
            option->setCaption(caption);
            option->setValue(row.extra.selected);
            widget = option;
            focusOrder.emplace_back(row.tabIndex, option);
            break;
        }
        }
        widget->setObjectName(QString::fromLatin1(row.name));
        widget->setGeometry(px(row.left), px(row.top), px(row.width), px(row.height));
        widget->setFont(fontFor(row.font));
        setColors(widget, row);
        if (row.extra.hidden)
            widget->hide();
        widget->installEventFilter(this);
        controls_.insert(widget->objectName(), widget);
    }

    std::sort(focusOrder.begin(), focusOrder.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < focusOrder.size(); ++i)
        setTabOrder(focusOrder[i - 1].second, focusOrder[i].second);
    focusOrder.front().second->setFocus();
}

void Form1::buildTimers(Clock& clock)
{
    std::size_t i = 0;
    for (const layout::TimerSetup& setup : layout::timers()) {
        auto* t = new Timer(clock, Millis(setup.intervalMs), this);
        t->setObjectName(QString::fromLatin1(setup.name));
        timers_.at(i++) = t;
    }
}

void Form1::wireHandlers()
{
    for (const OneShotButton& row : oneShotButtons())
        connect(find<CommandButton>(row.control.data()), &CommandButton::Click, this,
                [this, &row] { commands_->click(row); });
    for (const StatusQuery& row : statusQueries())
        connect(find<CommandButton>(row.control.data()), &CommandButton::Click, this,
                [this, &row] { commands_->query(row); });
    for (const HoldButton& row : holdButtons()) {
        auto* button = find<CommandButton>(row.control.data());
        connect(button, &CommandButton::MouseDown, this, [this, &row] { commands_->press(row); });
        connect(button, &CommandButton::MouseUp, this, [this, &row] { commands_->release(row); });
    }

    connect(&timer(1), &Timer::tick, this, [this] { commands_->Timer1_Timer(); });
    connect(&timer(2), &Timer::tick, this, [this] { engine_->Timer2_Timer(); });
    connect(&timer(3), &Timer::tick, this, &Form1::Timer3_Timer);
    connect(&timer(4), &Timer::tick, this, [this] { engine_->Timer4_Timer(); });
    connect(comm_.get(), &MSComm::OnComm, this, [this] { engine_->MSComm1_OnComm(); });

    connect(option1_, &OptionButton::Click, this, &Form1::Option1_Click);
    connect(find<OptionButton>("Option2"), &OptionButton::Click, this, &Form1::Option2_Click);
    connect(find<OptionButton>("Option3"), &OptionButton::Click, this, &Form1::Option3_Click);
    connect(find<OptionButton>("Option4"), &OptionButton::Click, this, &Form1::Option4_Click);
    connect(find<CommandButton>("Command33"), &CommandButton::Click, this, &Form1::Command33_Click);
    connect(find<CommandButton>("Command16"), &CommandButton::Click, this, &Form1::Command16_Click);
    connect(command34_, &CommandButton::Click, this, &Form1::Command34_Click);
}

int Form1::Height() const { return height() * layout::kTwipsPerPixel; }

void Form1::setHeight(int twips)
{
    // The top edge stays where it is; what lies below the new bottom edge is
    // out of sight.
    setFixedHeight(px(twips));
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    // The window sees each key before the control that has the focus, and
    // passes it on unchanged. Only the first receiver counts: a key the
    // control ignores comes up to its parents as the same event.
    if (event->type() == QEvent::KeyPress) {
        QWidget* first = focusWidget() ? focusWidget() : this;
        if (watched == first) {
            const auto* key = static_cast<QKeyEvent*>(event);
            Form_KeyDown(key->key() <= 0xFF ? key->key() : 0, shiftState(key->modifiers()));
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace orvik
