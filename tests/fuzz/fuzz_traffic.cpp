// Fuzzes what the line can do to the panel: receive events of any bytes,
// in any pieces, after any query, with time-outs in between. The traffic
// rendering and the decode step must keep to their rules.
//
// Input: each step is one control byte and a piece. The control byte's low
// three bits pick a frame to send first (none, the four queries, others);
// the next bits say how many bytes the piece has and whether the clock
// moves on to the time-out afterwards.
#include "panel/exchange_engine.h"
#include "panel/mscomm.h"
#include "panel/timer.h"
#include "protocol/command_set.h"
#include "protocol/status_queries.h"
#include "protocol/traffic_rendering.h"
#include "tests/support/fake_serial_device.h"
#include "tests/support/manual_clock.h"
#include "tests/support/text_line.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

using namespace orvik;
using namespace std::chrono_literals;

namespace {

bool renderingOnly(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 32 || c.unicode() > 122)
            return false;
    return true;
}

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_traffic";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    test::ManualClock clock;
    Failure failure;
    auto* device = new test::FakeSerialDevice;
    MSComm comm(
        std::unique_ptr<SerialDevice>(device), [](int) { return QStringLiteral("/dev/fuzz"); }, failure);
    comm.setPortOpen(true);
    FormState state;
    Timer replyTimeout(clock, 500ms);
    Timer displayClear(clock, 1000ms);
    test::TextLine txd, rxd, status;
    ExchangeEngine engine(state, comm, replyTimeout, displayClear, {txd, rxd, status});
    engine.setDecoder(&decodeStatus);

    static constexpr const char* kFrames[] = {nullptr, "CR0", "CR1", "CR3", "CR4", "C00", "C09", "C3F"};
    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t control = data[at++];
        if (const char* code = kFrames[control & 7]) {
            state.SendBuffer = commandFrame(code);
            engine.send(state.SendBuffer);
        }
        const std::size_t length = std::min<std::size_t>((control >> 3) & 15, size - at);
        device->inject(QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(length)));
        at += length;
        // Right after a receive event the RXD line is the whole buffer.
        require(rxd.text == renderTraffic(state.ReceiveBuffer));
        require(state.ReceiveBuffer.size() <= ExchangeEngine::kReceiveLimit);
        if (control & 0x80)
            clock.advance(500ms);

        require(renderingOnly(txd.text) && renderingOnly(rxd.text) && renderingOnly(status.text));
        require(status.text.isEmpty() || status.text.startsWith(u' '));
    }
    return 0;
}
