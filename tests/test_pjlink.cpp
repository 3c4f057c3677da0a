// The PJLink face: answers from what is known, addresses from the ports
// file, and the server as a client sees it, on simulated projectors.
#include "connection/admission.h"
#include "pjlink/address.h"
#include "pjlink/answers.h"
#include "pjlink/face.h"
#include "service/projector_node.h"
#include "tests/support/loopback.h"
#include "tests/support/manual_clock.h"
#include "tools/sim/pty_projector.h"

#include <QTcpSocket>
#include <QTest>

using namespace orvik;
using namespace std::chrono_literals;

namespace {

using States = QHash<QString, QString>;

States known(std::initializer_list<std::pair<const char*, const char*>> pairs)
{
    States states{{QStringLiteral("availability"), QStringLiteral("online")}};
    for (const auto& [name, value] : pairs)
        states.insert(QLatin1String(name), QLatin1String(value));
    return states;
}

// What the server says to a line, or the frames a set would send.
QByteArray said(const QByteArray& line, const States& states, const QString& name = QStringLiteral("hall-1"),
                const QString& device = QStringLiteral("/dev/ttyUSB0"))
{
    const auto action = pjlink::answer(line, {name, device, states});
    if (const QByteArray* reply = std::get_if<QByteArray>(&action))
        return *reply;
    QByteArray frames = "send";
    for (const Command& c : std::get<pjlink::Forward>(action).commands)
        frames += ' ' + c.frame.toLatin1().chopped(1);
    return frames;
}

// A client on the event loop: what it was sent, line by line.
class Client {
public:
    explicit Client(quint16 port, const QHostAddress& from = {})
    {
        if (!from.isNull())
            socket_.bind(from);
        socket_.connectToHost(QHostAddress::LocalHost, port);
        socket_.waitForConnected(2000);
    }
    QByteArray next(std::chrono::milliseconds within = 5s)
    {
        QElapsedTimer waited;
        waited.start();
        while (!in_.contains('\r') && socket_.state() == QAbstractSocket::ConnectedState
               && waited.elapsed() < within.count())
            wait();
        in_ += socket_.readAll(); // what came before a close
        const qsizetype end = in_.indexOf('\r');
        if (end < 0)
            return {};
        const QByteArray line = in_.left(end);
        in_.remove(0, end + 1);
        return line;
    }
    QByteArray ask(const QByteArray& line)
    {
        send(line + '\r');
        return next();
    }
    void send(const QByteArray& bytes)
    {
        socket_.write(bytes);
        socket_.flush();
        QTest::qWait(1);
    }
    // Whether the server closed the connection within the time.
    bool closed(std::chrono::milliseconds within = 3s)
    {
        QElapsedTimer waited;
        waited.start();
        while (socket_.state() == QAbstractSocket::ConnectedState && waited.elapsed() < within.count())
            wait();
        return socket_.state() != QAbstractSocket::ConnectedState;
    }

private:
    // The server is on this event loop too.
    void wait()
    {
        QTest::qWait(5);
        in_ += socket_.readAll();
    }

    QTcpSocket socket_;
    QByteArray in_;
};

} // namespace

class TestPjlink : public QObject {
    Q_OBJECT

    // One projector served on two ports, one of them asking for a password;
    // the face's idle time on a clock of the test's.
    std::unique_ptr<sim::PtyProjector> projector;
    TimerClock lineClock;
    test::ManualClock faceClock;
    std::unique_ptr<ProjectorNode> node;
    std::unique_ptr<pjlink::Face> open, guarded;
    quint16 openPort = 0, guardedPort = 0;
    static constexpr int kMost = 4;

    // What reached the line since the last look, frames joined by blanks.
    QByteArray frames()
    {
        QTest::qWait(50);
        QByteArray seen = projector->received();
        projector->clearReceived();
        seen.replace('\r', ' ');
        return seen.trimmed();
    }

private slots:
    void initTestCase()
    {
        projector = std::make_unique<sim::PtyProjector>();
        ProjectorNode::Timing timing;
        timing.poll = 3600s; // the polls at the start only
        node = std::make_unique<ProjectorNode>(NamedPort{QStringLiteral("hall-1"), projector->devicePath()},
                                               LineSettings{}, timing, lineClock);
        node->start();
        open = std::make_unique<pjlink::Face>(pjlink::Face::Settings{.maxConnections = kMost, .ownThread = false},
                                              faceClock);
        guarded =
            std::make_unique<pjlink::Face>(pjlink::Face::Settings{.password = "secret", .ownThread = false}, faceClock);
        openPort = test::freePort();
        QCOMPARE(open->serve(*node, {QHostAddress::LocalHost, openPort}), std::nullopt);
        guardedPort = test::freePort();
        QCOMPARE(guarded->serve(*node, {QHostAddress::LocalHost, guardedPort}), std::nullopt);
        // Online, with every poll answered.
        QTRY_VERIFY_WITH_TIMEOUT(node->states().size() >= 5 && node->waiting() == 0, 5000);
        frames();
    }

    void queriesPutNothingOnTheLine()
    {
        Client client(openPort);
        QCOMPARE(client.next(), QByteArray("PJLINK 0"));
        for (int i = 0; i < 20; ++i)
            for (const char* query : {"%1POWR ?", "%1INPT ?", "%1LAMP ?", "%1ERST ?", "%1AVMT ?"})
                QVERIFY(!client.ask(query).isEmpty());
        QCOMPARE(client.ask("%1LAMP ?"), QByteArray("%1LAMP=1234 1"));
        QCOMPARE(frames(), QByteArray());
    }

    void aSetIsAnsweredOnceTheProjectorTookItAndTheStateFollows()
    {
        Client client(openPort);
        client.next();
        QCOMPARE(client.ask("%1INPT 21"), QByteArray("%1INPT=OK"));
        QCOMPARE(frames(), QByteArray("C07 CR1")); // the input asked again before the answer
        QCOMPARE(client.ask("%1INPT ?"), QByteArray("%1INPT=21"));
        QCOMPARE(client.ask("%1AVMT 31"), QByteArray("%1AVMT=OK"));
        QCOMPARE(frames(), QByteArray("C0D C0B"));
        QCOMPARE(client.ask("%1AVMT ?"), QByteArray("%1AVMT=31"));
        QCOMPARE(node->states().value(QStringLiteral("video_mute")), QStringLiteral("on"));
        QCOMPARE(client.ask("%1INPT 11"), QByteArray("%1INPT=OK"));
        QCOMPARE(client.ask("%1INPT ?"), QByteArray("%1INPT=11"));
        frames();
    }

    void linesSentTogetherAreAnsweredInTurn()
    {
        Client client(openPort);
        client.next();
        client.send("%1INPT 21\r%1INPT ?\r%1NAME ?\r\n%1INPT 11\r%1INPT ?\r");
        for (const char* reply : {"%1INPT=OK", "%1INPT=21", "%1NAME=hall-1", "%1INPT=OK", "%1INPT=11"})
            QCOMPARE(client.next(), QByteArray(reply));
        frames();
    }

    void aProjectorThatDoesNotAnswerGetsErr3()
    {
        sim::PtyProjector silent(sim::PtyProjector::Options{.silent = true});
        ProjectorNode quiet({QStringLiteral("hall-2"), silent.devicePath()}, {}, {}, lineClock);
        quiet.start();
        pjlink::Face face({.ownThread = false}, faceClock);
        const quint16 port = test::freePort();
        QCOMPARE(face.serve(quiet, {QHostAddress::LocalHost, port}), std::nullopt);
        Client client(port);
        client.next();
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=ERR3"));
        QCOMPARE(client.ask("%1POWR 1"), QByteArray("%1POWR=ERR3")); // offline: nothing is sent
        QCOMPARE(client.ask("%1NAME ?"), QByteArray("%1NAME=hall-2"));
    }

    void onAThreadOfItsOwnTooWithTheStatesFollowing()
    {
        TimerClock clock;
        pjlink::Face face({}, clock);
        const quint16 port = test::freePort();
        QCOMPARE(face.serve(*node, {QHostAddress::LocalHost, port}), std::nullopt);
        Client client(port);
        QCOMPARE(client.next(), QByteArray("PJLINK 0"));
        QCOMPARE(client.ask("%1INPT ?"), QByteArray("%1INPT=11"));
        QCOMPARE(client.ask("%1INPT 21"), QByteArray("%1INPT=OK"));
        QCOMPARE(client.ask("%1INPT ?"), QByteArray("%1INPT=21"));
        QCOMPARE(client.ask("%1INPT 11"), QByteArray("%1INPT=OK"));
        QCOMPARE(face.connections(), 1);
        frames();
    }

    void thePasswordIsAskedOnceOrOnEveryLine()
    {
        Client client(guardedPort);
        const QByteArray greeting = client.next();
        QVERIFY(greeting.startsWith("PJLINK 1 "));
        const QByteArray digest = pjlink::digestOf(greeting.mid(9), "secret");
        QCOMPARE(client.ask(digest + "%1POWR ?"), QByteArray("%1POWR=1"));
        QCOMPARE(client.ask("%1NAME ?"), QByteArray("%1NAME=hall-1"));
        QCOMPARE(client.ask(digest.toUpper() + "%1CLSS ?"), QByteArray("%1CLSS=1"));
    }

    void aWrongOrMissingPasswordIsRefusedAndClosed_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("wrong") << QByteArray(32, '0') + "%1POWR ?";
        QTest::newRow("missing") << QByteArray("%1POWR ?");
        QTest::newRow("garbage") << QByteArray("hello");
    }
    void aWrongOrMissingPasswordIsRefusedAndClosed()
    {
        QFETCH(QByteArray, line);
        faceClock.advance(Backoff::kForgetAfter + Backoff::kLongest); // the last row forgotten
        Client client(guardedPort);
        client.next();
        QCOMPARE(client.ask(line), QByteArray("PJLINK ERRA"));
        QVERIFY(client.closed());
    }

    // After a wrong digest its address is greeted only once a wait is over,
    // longer after each failure; another address is served meanwhile.
    void anAddressThatGuessedWrongWaits()
    {
        faceClock.advance(Backoff::kForgetAfter + Backoff::kLongest);
        const auto guess = [this] {
            Client client(guardedPort);
            client.next();
            return client.ask(QByteArray(32, 'f') + "%1POWR ?");
        };
        QCOMPARE(guess(), QByteArray("PJLINK ERRA"));
        Client held(guardedPort);
        QCOMPARE(held.next(200ms), QByteArray()); // not greeted yet
        faceClock.advance(Backoff::kFirst);
        QVERIFY(held.next().startsWith("PJLINK 1 "));
        QCOMPARE(held.ask(QByteArray(32, 'f') + "%1POWR ?"), QByteArray("PJLINK ERRA")); // the second
        Client later(guardedPort);
        faceClock.advance(Backoff::kFirst);
        QCOMPARE(later.next(200ms), QByteArray()); // twice as long now
        Client elsewhere(guardedPort, QHostAddress(QStringLiteral("127.0.0.2")));
        const QByteArray greeting = elsewhere.next();
        QVERIFY(greeting.startsWith("PJLINK 1 "));
        QCOMPARE(elsewhere.ask(pjlink::digestOf(greeting.mid(9), "secret") + "%1POWR ?"), QByteArray("%1POWR=1"));
        faceClock.advance(Backoff::kFirst);
        QVERIFY(later.next().startsWith("PJLINK 1 "));
    }

    void anOverlongLineIsCutOff()
    {
        Client client(openPort);
        client.next();
        client.send("%1NAME " + QByteArray(pjlink::kMaxLine, 'x')); // no CR yet
        QVERIFY(client.closed());
        Client exact(openPort);
        exact.next();
        // 136 bytes with the CR are answered, 137 are not.
        QCOMPARE(exact.ask("%1NAME ?" + QByteArray(pjlink::kMaxLine - 9, ' ')), QByteArray("%1NAME=ERR2"));
        QCOMPARE(exact.ask("%1NAME ?" + QByteArray(pjlink::kMaxLine - 8, ' ')), QByteArray());
        QVERIFY(exact.closed());
        // A line may end in LF, or CR LF, as well.
        Client lf(openPort);
        lf.next();
        lf.send("%1CLSS ?\n%1NAME ?\r\n%1CLSS ?\r");
        for (const char* reply : {"%1CLSS=1", "%1NAME=hall-1", "%1CLSS=1"})
            QCOMPARE(lf.next(), QByteArray(reply));
    }

    void noBytesLockItUp()
    {
        Client client(openPort);
        client.next();
        QByteArray noise;
        for (int i = 0; i < 4096; ++i)
            noise += char((i * 7919) % 256 == 13 ? 0 : (i * 7919) % 256);
        for (qsizetype at = 0; at < noise.size(); at += 100)
            client.send(noise.mid(at, 100) + '\r'); // lines of noise, each short enough
        client.send("\r%1NAME ?\r");
        QByteArray reply;
        while (!(reply = client.next()).isEmpty() && reply != "%1NAME=hall-1") {}
        QCOMPARE(reply, QByteArray("%1NAME=hall-1"));
        // A byte at a time.
        for (const char c : QByteArray("%1POWR ?\r"))
            client.send(QByteArray(1, c));
        QCOMPARE(client.next(), QByteArray("%1POWR=1"));
        QCOMPARE(frames(), QByteArray());
    }

    void aSilentClientIsClosedAfterTheIdleTime()
    {
        Client client(openPort);
        client.next();
        faceClock.advance(29s);
        QCOMPARE(client.ask("%1CLSS ?"), QByteArray("%1CLSS=1")); // a line starts the time again
        faceClock.advance(29s);
        QVERIFY(!client.closed(100ms));
        faceClock.advance(1s);
        QVERIFY(client.closed());
    }

    void clientsPastTheCapAreClosedAtOnce()
    {
        QTRY_COMPARE(open->connections(), 0);
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < kMost; ++i) {
            clients.push_back(std::make_unique<Client>(openPort));
            QCOMPARE(clients.back()->next(), QByteArray("PJLINK 0"));
        }
        Client extra(openPort);
        QVERIFY(extra.closed());
        QCOMPARE(clients.front()->ask("%1POWR ?"), QByteArray("%1POWR=1"));
        clients.clear();
        QTRY_COMPARE(open->connections(), 0);
        Client again(openPort);
        QCOMPARE(again.next(), QByteArray("PJLINK 0"));
    }

    void twoHundredIdleClientsDoNoHarm()
    {
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 200; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, guardedPort);
        }
        QTRY_COMPARE_WITH_TIMEOUT(guarded->connections(), pjlink::Face::Settings{}.maxPerAddress, 5000);
        Client client(openPort); // another face of the same projector
        client.next();
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=1"));
        faceClock.advance(30s);
        QTRY_COMPARE(guarded->connections(), 0);
    }

    void answersComeFromWhatIsKnown_data()
    {
        QTest::addColumn<States>("states");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("reply");
        const States on = known({{"power", "on"}, {"input", "video"}, {"lamp_hours", "1234"}});
        QTest::newRow("on") << on << QByteArray("%1POWR ?") << QByteArray("%1POWR=1\r");
        QTest::newRow("standby") << known({{"power", "standby"}}) << QByteArray("%1POWR ?") << QByteArray("%1POWR=0\r");
        QTest::newRow("cooling") << known({{"power", "cooling_down"}}) << QByteArray("%1POWR ?")
                                 << QByteArray("%1POWR=2\r");
        QTest::newRow("count down") << known({{"power", "count_down"}}) << QByteArray("%1POWR ?")
                                    << QByteArray("%1POWR=3\r");
        QTest::newRow("keys locked") << known({{"power", "key_input_prohibition"}}) << QByteArray("%1POWR ?")
                                     << QByteArray("%1POWR=1\r");
        QTest::newRow("too hot") << known({{"power", "temperature_abnormality"}}) << QByteArray("%1POWR ?")
                                 << QByteArray("%1POWR=ERR4\r");
        QTest::newRow("too hot, errors") << known({{"power", "temperature_abnormality"}}) << QByteArray("%1ERST ?")
                                         << QByteArray("%1ERST=002000\r");
        QTest::newRow("power fault, errors")
            << known({{"power", "power_abnormality"}}) << QByteArray("%1ERST ?") << QByteArray("%1ERST=000002\r");
        QTest::newRow("no errors") << on << QByteArray("%1ERST ?") << QByteArray("%1ERST=000000\r");
        QTest::newRow("input") << on << QByteArray("%1INPT ?") << QByteArray("%1INPT=21\r");
        QTest::newRow("inputs") << on << QByteArray("%1INST ?") << QByteArray("%1INST=11 21\r");
        QTest::newRow("lamp on") << on << QByteArray("%1LAMP ?") << QByteArray("%1LAMP=1234 1\r");
        QTest::newRow("lamp warming") << known({{"power", "count_down"}, {"lamp_hours", "7"}}) << QByteArray("%1LAMP ?")
                                      << QByteArray("%1LAMP=7 1\r");
        QTest::newRow("lamp off") << known({{"power", "standby"}, {"lamp_hours", "7"}}) << QByteArray("%1LAMP ?")
                                  << QByteArray("%1LAMP=7 0\r");
        QTest::newRow("lamp unknown") << known({{"power", "on"}}) << QByteArray("%1LAMP ?")
                                      << QByteArray("%1LAMP=ERR3\r");
        QTest::newRow("mute never set") << on << QByteArray("%1AVMT ?") << QByteArray("%1AVMT=30\r");
        QTest::newRow("video muted") << known({{"power", "on"}, {"video_mute", "on"}, {"audio_mute", "off"}})
                                     << QByteArray("%1AVMT ?") << QByteArray("%1AVMT=11\r");
        QTest::newRow("audio muted") << known({{"power", "on"}, {"audio_mute", "on"}}) << QByteArray("%1AVMT ?")
                                     << QByteArray("%1AVMT=21\r");
        QTest::newRow("both muted") << known({{"power", "on"}, {"video_mute", "on"}, {"audio_mute", "on"}})
                                    << QByteArray("%1AVMT ?") << QByteArray("%1AVMT=31\r");
        QTest::newRow("name") << on << QByteArray("%1NAME ?") << QByteArray("%1NAME=hall-1\r");
        QTest::newRow("manufacturer") << on << QByteArray("%1INF1 ?") << QByteArray("%1INF1=orvik-control\r");
        QTest::newRow("product") << on << QByteArray("%1INF2 ?") << QByteArray("%1INF2=RS-232C projector\r");
        QTest::newRow("other") << on << QByteArray("%1INFO ?") << QByteArray("%1INFO=/dev/ttyUSB0\r");
        QTest::newRow("class") << on << QByteArray("%1CLSS ?") << QByteArray("%1CLSS=1\r");
        QTest::newRow("lower case") << on << QByteArray("%1powr ?") << QByteArray("%1POWR=1\r");
        // Sets: the frames they send.
        QTest::newRow("power on") << on << QByteArray("%1POWR 1") << QByteArray("send C00");
        QTest::newRow("power off") << on << QByteArray("%1POWR 0") << QByteArray("send C02");
        QTest::newRow("computer") << on << QByteArray("%1INPT 11") << QByteArray("send C05");
        QTest::newRow("video") << on << QByteArray("%1INPT 21") << QByteArray("send C07");
        QTest::newRow("mute both") << on << QByteArray("%1AVMT 31") << QByteArray("send C0D C0B");
        QTest::newRow("unmute both") << on << QByteArray("%1AVMT 30") << QByteArray("send C0E C0C");
        QTest::newRow("unmute video") << on << QByteArray("%1AVMT 10") << QByteArray("send C0E");
        QTest::newRow("mute audio") << on << QByteArray("%1AVMT 21") << QByteArray("send C0B");
        // What cannot be answered.
        QTest::newRow("unknown command") << on << QByteArray("%1FREZ 1") << QByteArray("%1FREZ=ERR1\r");
        QTest::newRow("class 2") << on << QByteArray("%2POWR ?") << QByteArray("%2POWR=ERR1\r");
        QTest::newRow("no such power") << on << QByteArray("%1POWR 2") << QByteArray("%1POWR=ERR2\r");
        QTest::newRow("no such input") << on << QByteArray("%1INPT 31") << QByteArray("%1INPT=ERR2\r");
        QTest::newRow("no parameter") << on << QByteArray("%1POWR") << QByteArray("%1POWR=ERR2\r");
        QTest::newRow("query only") << on << QByteArray("%1LAMP 1") << QByteArray("%1LAMP=ERR2\r");
        QTest::newRow("fixed, query only") << on << QByteArray("%1NAME x") << QByteArray("%1NAME=ERR2\r");
        const States lost{{QStringLiteral("availability"), QStringLiteral("offline")},
                          {QStringLiteral("power"), QStringLiteral("on")}};
        QTest::newRow("offline") << lost << QByteArray("%1POWR ?") << QByteArray("%1POWR=ERR3\r");
        QTest::newRow("offline set") << lost << QByteArray("%1POWR 0") << QByteArray("%1POWR=ERR3\r");
        QTest::newRow("offline, bad set") << lost << QByteArray("%1POWR 7") << QByteArray("%1POWR=ERR2\r");
        QTest::newRow("offline name") << lost << QByteArray("%1NAME ?") << QByteArray("%1NAME=hall-1\r");
        QTest::newRow("not yet polled") << known({}) << QByteArray("%1POWR ?") << QByteArray("%1POWR=ERR3\r");
        // No command at all: nothing is said.
        QTest::newRow("no header") << on << QByteArray("POWR ?") << QByteArray();
        QTest::newRow("short") << on << QByteArray("%1PO") << QByteArray();
        QTest::newRow("empty") << on << QByteArray() << QByteArray();
        QTest::newRow("control character") << on << QByteArray("%1PO\x01R ?") << QByteArray();
    }
    void answersComeFromWhatIsKnown()
    {
        QFETCH(States, states);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, reply);
        QCOMPARE(said(line, states), reply);
    }

    void longTextsAreCutBetweenCharacters()
    {
        const States on = known({{"power", "on"}});
        const QString name = QString(63, u'a') + QStringLiteral("é");
        QCOMPARE(said("%1NAME ?", on, name), "%1NAME=" + QByteArray(63, 'a') + '\r');
        QCOMPARE(said("%1INFO ?", on, {}, QStringLiteral("rfc2217://projector-room-101.example:4001")),
                 QByteArray("%1INFO=rfc2217://projector-room-101.exa\r"));
    }

    void theDigestIsMd5OfRandomAndPassword()
    {
        // As the client computes it: md5("498e4a67" + "JBMIAProjectorLink").
        QCOMPARE(pjlink::digestOf("498e4a67", "JBMIAProjectorLink"), QByteArray("5d8409bc1c3fa39749434aa3a5c38682"));
        QCOMPARE(pjlink::greeting({}), QByteArray("PJLINK 0\r"));
        QCOMPARE(pjlink::greeting("498e4a67"), QByteArray("PJLINK 1 498e4a67\r"));
        const QByteArray random = pjlink::makeRandom();
        QCOMPARE(random.size(), 8);
        QVERIFY(QByteArray::fromHex(random).toHex() == random);
    }

    void addressesInThePortsFile_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("heard"); // "HOST PORT", or the error
        QTest::newRow("empty") << QString() << QStringLiteral("0.0.0.0 4352");
        QTest::newRow("host") << QStringLiteral("127.0.0.2") << QStringLiteral("127.0.0.2 4352");
        QTest::newRow("port") << QStringLiteral(":14352") << QStringLiteral("0.0.0.0 14352");
        QTest::newRow("both") << QStringLiteral("10.1.2.3:4353") << QStringLiteral("10.1.2.3 4353");
        QTest::newRow("localhost") << QStringLiteral("localhost") << QStringLiteral("127.0.0.1 4352");
        QTest::newRow("ipv6") << QStringLiteral("[::1]:4400") << QStringLiteral("::1 4400");
        QTest::newRow("ipv6 alone") << QStringLiteral("[fe80::1]") << QStringLiteral("fe80::1 4352");
        QTest::newRow("name") << QStringLiteral("projector.local")
                              << QStringLiteral("'projector.local' is no IPv4 address (an IPv6 address goes in "
                                                "brackets)");
        QTest::newRow("bare ipv6") << QStringLiteral("::1")
                                   << QStringLiteral("'::1': an IPv6 address goes in brackets, [ADDRESS]:PORT");
        QTest::newRow("port 0") << QStringLiteral(":0") << QStringLiteral("the port '0' is not from 1 to 65535");
        QTest::newRow("port too big") << QStringLiteral(":65536")
                                      << QStringLiteral("the port '65536' is not from 1 to 65535");
        QTest::newRow("no port") << QStringLiteral("127.0.0.2:")
                                 << QStringLiteral("'127.0.0.2:' has ':' without a "
                                                   "port");
        QTest::newRow("unclosed") << QStringLiteral("[::1") << QStringLiteral("'[::1' opens '[' without closing it");
        QTest::newRow("v4 in brackets") << QStringLiteral("[127.0.0.1]")
                                        << QStringLiteral("'127.0.0.1' is no IPv6 address");
    }
    void addressesInThePortsFile()
    {
        QFETCH(QString, text);
        QFETCH(QString, heard);
        const auto parsed = pjlink::parseListenAddress(text);
        if (const QString* error = std::get_if<QString>(&parsed)) {
            QCOMPARE(*error, heard);
            return;
        }
        const pjlink::ListenAddress address = std::get<pjlink::ListenAddress>(parsed);
        const QString host = address.host == QHostAddress::Any ? QStringLiteral("0.0.0.0") : address.host.toString();
        QCOMPARE(host + u' ' + QString::number(address.port), heard);
    }

    void twoProjectorsOnOneAddressAreRefusedWithTheLine()
    {
        const auto ports = [](const char* text) { return std::get<QList<NamedPort>>(parsePorts(text)); };
        const auto fine = pjlink::listenersOf(ports("a /dev/a pjlink=127.0.0.2\nb /dev/b pjlink=127.0.0.3\n"
                                                    "c /dev/c pjlink=127.0.0.1:14352\nd /dev/d\n"));
        QCOMPARE(std::get<QList<pjlink::Listener>>(fine).size(), 3);
        const auto twice =
            pjlink::listenersOf(ports("a /dev/a pjlink=127.0.0.2\n# comment\nb /dev/b pjlink=127.0.0.2:4352\n"));
        QCOMPARE(std::get<QString>(twice),
                 QStringLiteral("3: b on 127.0.0.2 port 4352 and a on 127.0.0.2 port 4352 (line 1) cannot both listen; "
                                "give each its own address or port"));
        const auto every = pjlink::listenersOf(ports("a /dev/a pjlink=\nb /dev/b pjlink=127.0.0.2\n"));
        QVERIFY(std::get<QString>(every).startsWith(QLatin1String("2: b on 127.0.0.2 port 4352 and a on every "
                                                                  "address port 4352 (line 1)")));
        const auto bad = pjlink::listenersOf(ports("a /dev/a pjlink=host:1\n"));
        QCOMPARE(std::get<QString>(bad),
                 QStringLiteral("1: pjlink=host:1: 'host' is no IPv4 address (an IPv6 address goes in brackets)"));
        // Another field is no PJLink address: the line is refused as it stands.
        QVERIFY(std::holds_alternative<QString>(parsePorts("a /dev/a pjlnk=127.0.0.2\n")));
    }
};

QTEST_GUILESS_MAIN(TestPjlink)
#include "test_pjlink.moc"
