#pragma once

#include "app/layout.h"
#include "panel/failure.h"
#include "panel/form_state.h"
#include "panel/mscomm.h"

#include <QHash>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace orvik {

class Clock;
class CommandButton;
class ExchangeEngine;
class Frame;
class LineShape;
class OptionButton;
class ProjectorCommands;
class Timer;
class WarningBox;

// The one window: every control of the layout, the state fields, and every
// handler of the system, each named after its control and event. Handlers
// forward to the layer that does the work: the exchange engine (serial/)
// and the projector commands (commands/).
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
    static constexpr int kFullHeight = layout::kWindow.clientHeight;
    static constexpr int kOpenThreshold = 5625;

    explicit Form1(Services services, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up, port configuration, END.
    void Form_Load();
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();
    void Command33_Click();
    void Timer3_Timer();
    void Command16_Click();

    // The hidden data panel.
    void Form_KeyDown(int KeyCode, int Shift);
    void Command34_Click();

    // The exchange: the window's one procedure, and the handlers of the
    // receive event and of the reply time-out and display clear. The engine
    // runs the last three on its own timers and receive event.
    void Hyouji(const QString& text, std::uint8_t mode);
    void MSComm1_OnComm();
    void Timer2_Timer();
    void Timer4_Timer();

    // One-shot buttons.
    void Command17_Click();
    void Command18_Click();
    void Command27_Click();
    void Command29_Click();
    void Command19_Click();
    void Command20_Click();
    void Command21_Click();
    void Command22_Click();
    void Command31_Click();
    void Command32_Click();
    void Command23_Click();
    void Command24_Click();
    void Command25_Click();
    void Command26_Click();
    void Command13_Click();
    void Command14_Click();
    void Command4_Click();
    void Command3_Click();
    void Command52_Click();

    // Status queries.
    void Command44_Click();
    void Command45_Click();
    void Command46_Click();
    void Command47_Click();

    // Press-and-hold buttons and their repeat tick.
    void Command1_MouseDown(int Button, int Shift, float X, float Y);
    void Command1_MouseUp(int Button, int Shift, float X, float Y);
    void Command2_MouseDown(int Button, int Shift, float X, float Y);
    void Command2_MouseUp(int Button, int Shift, float X, float Y);
    void Command30_MouseDown(int Button, int Shift, float X, float Y);
    void Command30_MouseUp(int Button, int Shift, float X, float Y);
    void Command42_MouseDown(int Button, int Shift, float X, float Y);
    void Command42_MouseUp(int Button, int Shift, float X, float Y);
    void Command48_MouseDown(int Button, int Shift, float X, float Y);
    void Command48_MouseUp(int Button, int Shift, float X, float Y);
    void Command49_MouseDown(int Button, int Shift, float X, float Y);
    void Command49_MouseUp(int Button, int Shift, float X, float Y);
    void Command50_MouseDown(int Button, int Shift, float X, float Y);
    void Command50_MouseUp(int Button, int Shift, float X, float Y);
    void Command51_MouseDown(int Button, int Shift, float X, float Y);
    void Command51_MouseUp(int Button, int Shift, float X, float Y);
    void Command6_MouseDown(int Button, int Shift, float X, float Y);
    void Command6_MouseUp(int Button, int Shift, float X, float Y);
    void Command5_MouseDown(int Button, int Shift, float X, float Y);
    void Command5_MouseUp(int Button, int Shift, float X, float Y);
    void Command7_MouseDown(int Button, int Shift, float X, float Y);
    void Command7_MouseUp(int Button, int Shift, float X, float Y);
    void Command9_MouseDown(int Button, int Shift, float X, float Y);
    void Command9_MouseUp(int Button, int Shift, float X, float Y);
    void Command8_MouseDown(int Button, int Shift, float X, float Y);
    void Command8_MouseUp(int Button, int Shift, float X, float Y);
    void Timer1_Timer();

    // The window's client height in twips.
    int Height() const;
    void setHeight(int twips);

    FormState& state() { return state_; }
    MSComm& MSComm1() { return *comm_; }
    Timer& timer(int number) const;
    QWidget* control(const QString& name) const { return controls_.value(name); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void buildWindow();
    void buildControls();
    void buildTimers(Clock& clock);
    void initActionsConnections();
    void switchPort(int port, int fallback);
    void switchSpeed(const QString& settings);
    template <typename T> T* find(const char* name) const
    {
        return qobject_cast<T*>(controls_.value(QLatin1String(name)));
    }

    FormState state_;
    Failure failure_;
    WarningBox& warning_;
    std::function<void(int)> quit_;
    QHash<QString, QWidget*> controls_;
    std::array<Timer*, 4> timers_{};
    std::vector<LineShape*> lines_; // drawn by the window itself
    std::unique_ptr<MSComm> comm_;
    std::unique_ptr<ExchangeEngine> engine_;
    std::unique_ptr<ProjectorCommands> commands_;

    // Controls the handlers here work on, set once at construction.
    Frame* frame8_ = nullptr;
    CommandButton* command34_ = nullptr;
    OptionButton* option1_ = nullptr;
};

// The window with both ports on the serial device at `path`: the simulator,
// the benchmark's far end, a test's pty.
std::unique_ptr<Form1> makeFormOnDevice(
    Clock& clock, WarningBox& warning, const QString& path, std::function<void(int exitCode)> quit = [](int) {});

} // namespace orvik
