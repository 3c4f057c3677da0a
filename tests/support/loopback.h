#pragma once

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <chrono>

namespace orvik::test {

// A TCP port on 127.0.0.1 that nothing listens on just now.
inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Whether a server started on 127.0.0.1:port takes connections within the time.
inline bool listensSoon(quint16 port, std::chrono::milliseconds within = std::chrono::seconds(5))
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < within.count()) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(100)) {
            probe.abort();
            return true;
        }
        QTest::qWait(50);
    }
    return false;
}

} // namespace orvik::test
