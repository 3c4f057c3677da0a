#include "app/accessibility.h"

#include "app/form1.h"
#include "panel/caption.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace orvik {
namespace {

QAccessibleInterface* panelInterface(const QString& className, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    if (className == QLatin1String("orvik::Form1"))
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (className == QLatin1String("orvik::Frame"))
        return new QAccessibleWidget(widget, QAccessible::Grouping);
    if (className == QLatin1String("orvik::SpokenNotice"))
        return new QAccessibleWidget(widget, QAccessible::Notification);
    return nullptr;
}

struct Named {
    const char* control;
    const char* text;
};

// Group frames named after their title label, and the three without one.
constexpr Named kFrameTitles[] = {
    {"Frame1", "Label1"}, {"Frame2", "Label2"}, {"Frame3", "Label4"}, {"Frame4", "Label5"},
    {"Frame5", "Label6"}, {"Frame6", "Label7"}, {"Frame7", "Label8"}, {"Frame15", "Label26"},
};
constexpr Named kFrameNames[] = {{"Frame8", "Port"}, {"Frame10", "Speed"}, {"Frame9", "Traffic"}};

// Faces that do not say what they adjust ("+", "-", the arrows, a code):
// named for the ear. The faces stay as they are.
constexpr Named kNames[] = {
    {"Command1", "VOL up"},       {"Command2", "VOL down"},       {"Command30", "Bright up"},
    {"Command42", "Bright down"}, {"Command48", "D.Zoom up"},     {"Command49", "D.Zoom down"},
    {"Command50", "Keystone up"}, {"Command51", "Keystone down"}, {"Command5", "Up"},
    {"Command7", "Down"},         {"Command9", "Left"},           {"Command8", "Right"},
    {"Command52", "Send C01"},
};

// Buttons in a group frame are described by the group; these stand alone.
constexpr Named kDescriptions[] = {
    {"Command1", "VOL up, hold to repeat"},
    {"Command2", "VOL down, hold to repeat"},
    {"Command30", "Bright up, hold to repeat"},
    {"Command42", "Bright down, hold to repeat"},
    {"Command48", "D.Zoom up, hold to repeat"},
    {"Command49", "D.Zoom down, hold to repeat"},
    {"Command50", "Keystone up, hold to repeat"},
    {"Command51", "Keystone down, hold to repeat"},
    {"Command5", "Up, hold to repeat"},
    {"Command7", "Down, hold to repeat"},
    {"Command9", "Left, hold to repeat"},
    {"Command8", "Right, hold to repeat"},
    {"Command6", "hold to repeat"},
    {"Command44", "Asks the projector for its power state"},
    {"Command45", "Asks the projector for its selected input"},
    {"Command46", "Asks the projector for its hours of use"},
    {"Command47", "Asks the projector for its picture reversal"},
    {"Command13", "Projector command; the arrows then repeat every 200 ms"},
    {"Command14", "Projector command"},
    {"Command4", "Projector command"},
    {"Command3", "Projector command"},
    {"Command52", "Projector command"},
    {"Command16", "Closes the port and ends the program"},
    {"Command33", "Shows the port and speed settings"},
    {"Command34", "Shows or hides the data panel"},
    {"Label11", "TXD line"},
    {"Label12", "RXD line"},
    {"Label25", "STATUS line"},
};

} // namespace

void describeForScreenReaders(Form1& form)
{
    static const bool installed = [] {
        QAccessible::installFactory(&panelInterface);
        return true;
    }();
    Q_UNUSED(installed);

    const auto control = [&](const char* name) { return form.control(QLatin1String(name)); };
    form.setAccessibleName(form.windowTitle());
    for (const Named& frame : kFrameTitles)
        control(frame.control)->setAccessibleName(dynamic_cast<Caption*>(control(frame.text))->caption());
    for (const Named& frame : kFrameNames)
        control(frame.control)->setAccessibleName(QString::fromUtf8(frame.text));
    for (const Named& row : kNames)
        control(row.control)->setAccessibleName(QString::fromUtf8(row.text));
    for (const Named& row : kDescriptions)
        control(row.control)->setAccessibleDescription(QString::fromUtf8(row.text));
    // The ON/OFF pairs and the like: the group they stand in.
    for (const Named& frame : kFrameTitles)
        for (QWidget* button : control(frame.control)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (button->focusPolicy() != Qt::NoFocus)
                button->setAccessibleDescription(control(frame.control)->accessibleName());
    control("Image1")->setAccessibleName(QStringLiteral("ORVIK"));
}

} // namespace orvik
