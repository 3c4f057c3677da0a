// What the operator sees and what a screen reader hears.
#include "tests/support/controls.h"
#include "tests/support/form_fixture.h"

#include <QAccessible>
#include <QImage>
#include <QPushButton>
#include <QTest>

using namespace orvik;
using namespace orvik::test;

namespace {

int distance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

QStringList problemsIn(QAccessibleInterface* node, QStringList problems = {})
{
    for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface* child = node->child(i);
        const QString name = child->text(QAccessible::Name);
        if ((child->role() == QAccessible::Client || child->role() == QAccessible::Grouping) && name.isEmpty())
            problems << child->object()->objectName();
        problems = problemsIn(child, problems);
    }
    return problems;
}

} // namespace

class TestPanelLooks : public QObject {
    Q_OBJECT
private slots:
    // Samples just inside the raised edge, clear of the caption and the
    // focus rectangle: the centre column at the top, the middle row at
    // either side.
    void facesShowTheirOwnColours_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QRgb>("colour");
        QTest::newRow("POWER ON") << QString(kPowerOn) << qRgb(192, 255, 192);
        QTest::newRow("POWER OFF") << QString(kPowerOff) << qRgb(255, 192, 192);
        QTest::newRow("SELECT") << QString(kSelect) << qRgb(255, 128, 0);
        QTest::newRow("A-IMAGE") << QString(kAImage) << qRgb(0, 192, 192);
        QTest::newRow("END, flush with the window") << QString(kEnd) << qRgb(192, 192, 192);
        QTest::newRow("COM, the system's face") << QString(kComButton) << QRgb(0);
    }
    void facesShowTheirOwnColours()
    {
        QFETCH(QString, control);
        QFETCH(QRgb, colour);
        FormFixture f;
        f.load();
        QWidget* button = f.control(control.toLatin1().constData());
        if (colour == 0)
            colour = button->palette().color(QPalette::Button).rgb();
        const QImage face = button->grab().toImage();
        const int w = face.width(), h = face.height();
        for (const QPoint at : {QPoint(w / 2, 2), QPoint(2, h / 2), QPoint(w - 3, h / 2)})
            QVERIFY2(distance(face.pixel(at), colour) <= 3, qPrintable(QStringLiteral("%1 at %2,%3: %4")
                                                                           .arg(control)
                                                                           .arg(at.x())
                                                                           .arg(at.y())
                                                                           .arg(QColor(face.pixel(at)).name())));
    }

    void optionButtonsSitOnTheirFramesGrey()
    {
        FormFixture f;
        f.load();
        f.click(kComButton);
        for (const char* option : {kCom1, kCom2, kBaud19200, kBaud9600}) {
            const QImage tile = f.control(option)->grab().toImage();
            QCOMPARE(QColor(tile.pixel(tile.width() - 2, 1)), QColor(192, 192, 192));
        }
    }

    void aScreenReaderHearsWhatEachControlIs()
    {
        FormFixture f;
        f.load();
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(f.form.get());
        QCOMPARE(window->role(), QAccessible::Window);
        QCOMPARE(window->text(QAccessible::Name), QStringLiteral("ORVIK   QA3 & QB3 & QC3  CONTROL  Ver.1.30"));
        QCOMPARE(problemsIn(window), QStringList());

        const auto node = [&](const char* name) { return QAccessible::queryAccessibleInterface(f.control(name)); };
        QCOMPARE(node("Frame1")->role(), QAccessible::Grouping);
        QCOMPARE(node("Frame1")->text(QAccessible::Name), QStringLiteral("POWER"));
        QCOMPARE(node("Frame5")->text(QAccessible::Name), QStringLiteral("VIDEO  SCREEN"));
        QCOMPARE(node("Frame9")->text(QAccessible::Name), QStringLiteral("Traffic"));
        QCOMPARE(node(kPowerOn)->text(QAccessible::Name), QStringLiteral("ON"));
        QCOMPARE(node(kPowerOn)->text(QAccessible::Description), QStringLiteral("POWER"));
        QCOMPARE(node(kVolUp)->text(QAccessible::Description), QStringLiteral("VOL up, hold to repeat"));
        // Faces that do not say what they adjust are named for the ear; the faces stay.
        QCOMPARE(node(kVolUp)->text(QAccessible::Name), QStringLiteral("VOL up"));
        QCOMPARE(qobject_cast<QPushButton*>(f.control(kVolUp))->text(), QStringLiteral("+"));
        QCOMPARE(node(kLeft)->text(QAccessible::Name), QStringLiteral("Left"));
        QCOMPARE(node("Command52")->text(QAccessible::Name), QStringLiteral("Send C01"));
        QCOMPARE(node(kLeft)->text(QAccessible::Description), QStringLiteral("Left, hold to repeat"));
        QCOMPARE(node(kRxdLine)->text(QAccessible::Description), QStringLiteral("RXD line"));
        QCOMPARE(node("Image1")->text(QAccessible::Name), QStringLiteral("ORVIK"));
        // The twelve drawn lines are not in the tree: 89 controls less the
        // lines, the timers and the serial control, the window's own, and
        // the notice a screen reader speaks the status through.
        QCOMPARE(f.form->findChildren<QWidget*>().size(), 73);
    }
};

QTEST_MAIN(TestPanelLooks)
#include "test_panel_looks.moc"
