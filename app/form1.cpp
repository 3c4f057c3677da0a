#include "app/form1.h"

#include "app/accessibility.h"
#include "app/layout.h"
#include "link/port_device.h"
#include "panel/exchange_engine.h"
#include "panel/projector_commands.h"
#include "panel/timer.h"
#include "panel/warning_box.h"
#include "protocol/status_queries.h"
#include "widgets/colors.h"
#include "widgets/command_button.h"
#include "widgets/fonts.h"
#include "widgets/frame.h"
#include "widgets/label.h"
#include "widgets/line_shape.h"
#include "widgets/option_button.h"
#include "widgets/picture.h"
#include "widgets/shift_state.h"
#include "widgets/spoken_notice.h"

#include <QKeyEvent>
#include <QPainter>

#include <algorithm>
#include <vector>

namespace orvik {
namespace {

#include "app/logo.xpm"

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
    // leak into the buttons inside it. An option button fills its tile from
    // both roles, depending on the style.
    const bool button = row.kind == layout::Kind::Button;
    QPalette pal = widget->palette();
    if (row.backColor) {
        if (!button)
            pal.setColor(QPalette::Window, bgrColor(*row.backColor));
        if (button || row.kind == layout::Kind::Option)
            pal.setColor(QPalette::Button, bgrColor(*row.backColor));
        widget->setAutoFillBackground(!button);
    }
    if (row.extra.foreColor)
        pal.setColor(button ? QPalette::ButtonText : QPalette::WindowText, bgrColor(*row.extra.foreColor));
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
    connect(comm_.get(), &MSComm::openFailedLater, this, [this](const QString& text) { warning_.show(text); });

    frame8_ = find<Frame>("Frame8");
    command34_ = find<CommandButton>("Command34");
    option1_ = find<OptionButton>("Option1");
    auto* txd = find<Label>("Label11");
    auto* rxd = find<Label>("Label12");
    engine_ = std::make_unique<ExchangeEngine>(state_, *comm_, timer(2), timer(4),
                                               ExchangeEngine::Lines{*txd, *rxd, *find<Label>("Label25")});
    engine_->setDecoder(&decodeStatus);
    engine_->setAnnouncer(new SpokenNotice(this));
    commands_ = std::make_unique<ProjectorCommands>(*engine_, ProjectorCommands::Timers{timer(1), timer(2), timer(4)},
                                                    ProjectorCommands::Lines{*txd, *rxd});
    initActionsConnections();
    describeForScreenReaders(*this);
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

Timer& Form1::timer(int number) const { return *timers_.at(std::size_t(number - 1)); }

void Form1::buildWindow()
{
    installGothicSubstitutes();
    const layout::Window& w = layout::kWindow;
    setWindowTitle(QString::fromUtf8(w.caption));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, bgrColor(w.backColor));
    pal.setColor(QPalette::WindowText, bgrColor(w.foreColor));
    setPalette(pal);
    setAutoFillBackground(true);
    setFont(fontFor(w.font));
    setFixedSize(pixels(w.clientWidth), pixels(w.clientHeight));
    installEventFilter(this); // sees every key first, like the controls' filters
}

void Form1::buildControls()
{
    // Lines are drawn on the window itself, behind every control.
    for (const layout::Line& line : layout::lines()) {
        auto* shape = new LineShape(QLine(pixels(line.x1), pixels(line.y1), pixels(line.x2), pixels(line.y2)),
                                    bgrColor(layout::kLineColor), layout::kLineWidth, this);
        shape->setObjectName(QString::fromLatin1(line.name));
        lines_.push_back(shape);
    }

    auto* image = new Picture(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->move(pixels(8160), 0);
    image->setBitmap(QPixmap(logo_xpm));
    controls_.insert(image->objectName(), image);

    std::vector<std::pair<int, QWidget*>> focusOrder;
    for (const layout::Control& row : layout::controls()) {
        QWidget* container = row.container == "Form1" ? this : controls_.value(QString::fromLatin1(row.container));
        Q_ASSERT(container);
        const QString caption = QString::fromUtf8(row.caption);
        QWidget* widget = nullptr;
        switch (row.kind) {
        case layout::Kind::Frame: widget = new Frame(container); break;
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
        widget->setGeometry(pixels(row.left), pixels(row.top), pixels(row.width), pixels(row.height));
        widget->setFont(fontFor(row.font));
        setColors(widget, row);
        if (row.extra.hidden)
            widget->hide();
        widget->installEventFilter(this);
        controls_.insert(widget->objectName(), widget);
    }

    std::sort(focusOrder.begin(), focusOrder.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
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

void Form1::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    for (const LineShape* line : lines_)
        line->paint(painter);
}

int Form1::Height() const { return height() * kTwipsPerPixel; }

void Form1::setHeight(int twips)
{
    // The top edge stays where it is; what lies below the new bottom edge is
    // out of sight.
    setFixedHeight(pixels(twips));
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

std::unique_ptr<Form1> makeFormOnDevice(Clock& clock, WarningBox& warning, const QString& path,
                                        std::function<void(int)> quit)
{
    return std::make_unique<Form1>(
        Form1::Services{clock, warning, std::make_unique<PortDevice>(), [path](int) { return path; }, std::move(quit)});
}

} // namespace orvik
