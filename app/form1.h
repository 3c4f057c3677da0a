#pragma once

#include "serial/form_state.h"
#include "serial/mscomm.h"
#include "ui/failure.h"

#include <QHash>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

namespace orvik {

class Clock;
class CommandButton;
class ExchangeEngine;
class Frame;
class Label;
class OptionButton;
class ProjectorCommands;
class Timer;
class WarningBox;

// The one window: every control of the layout, the state fields, and the
// handlers of start-up, port configuration and the hidden data panel. The
// command buttons' handlers live in ProjectorCommands, the traffic in the
// ExchangeEngine; this class wires the controls' events to them.
class Form1 : public QWidget {
    Q_OBJECT
public:
    struct Services {
        Clock& clock;
        WarningBox& warning;
        std::unique_ptr<SerialDevice> device;
        MSComm::PortMap ports;
        std::function<void(int exitCode)> quit; // ends the program
    };

    // Client heights in twips: the compact window, the data panel in view,
    // the whole layout; and where the toggle tells open from closed.
    static constexpr int kCompactHeight = 4825;
    static constexpr int kDataHeight = 6270;
    static constexpr int kFullHeight = 6825;
    static constexpr int kOpenThreshold = 5625;

    explicit Form1(Services services, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up and port configuration.
    void Form_Load();
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();
    void Command33_Click();
    void Timer3_Timer();
    void Command16_Click();

    // The hidden data panel.
    void Form_KeyDown(int keyCode, int shift);
    void Command34_Click();

    // The window's client height in twips.
    int Height() const;
    void setHeight(int twips);

    FormState& state() { return state_; }
    MSComm& MSComm1() { return *comm_; }
    Timer& timer(int number) const;
    ExchangeEngine& engine() { return *engine_; }
    QWidget* control(const QString& name) const { return controls_.value(name); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    void buildControls();
    void buildTimers(Clock& clock);
    void wireHandlers();
    void switchPort(int port, int fallback);
    void switchSpeed(const QString& settings);
    template <typename T> T* find(const char* name) const;

    FormState state_;
    Failure failure_;
    WarningBox& warning_;
    std::function<void(int)> quit_;
    QHash<QString, QWidget*> controls_;
    std::array<Timer*, 4> timers_{};
    std::unique_ptr<MSComm> comm_;
    std::unique_ptr<ExchangeEngine> engine_;
    std::unique_ptr<ProjectorCommands> commands_;

    // Controls the handlers here work on, set once at construction.
    Frame* frame8_ = nullptr;
    CommandButton* command34_ = nullptr;
    OptionButton* option1_ = nullptr;
};

} // namespace orvik
