#include "tests/support/form_fixture.h"

#include "panel/caption.h"

namespace orvik::test {

FormFixture::FormFixture(QSet<QString> missing)
{
    auto fake = std::make_unique<FakeSerialDevice>();
    fake->missing = std::move(missing);
    device = fake.get();
    form = std::make_unique<Form1>(Form1::Services{clock, warnings, std::move(fake),
                                                   [](int port) { return QStringLiteral("/dev/fake%1").arg(port); },
                                                   [this](int code) { exitCodes.append(code); }});
}

void FormFixture::load()
{
    form->Form_Load();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
}

void FormFixture::click(const char* name)
{
    QWidget* w = control(name);
    QVERIFY2(w, name);
    QTest::mouseClick(w, Qt::LeftButton);
}

QByteArray FormFixture::takeWritten()
{
    QByteArray out;
    out.swap(device->written);
    return out;
}

QString FormFixture::caption(const char* name) const
{
    auto* c = dynamic_cast<Caption*>(form->control(QLatin1String(name)));
    return c ? c->caption() : QStringLiteral("<no caption: %1>").arg(QLatin1String(name));
}

} // namespace orvik::test
