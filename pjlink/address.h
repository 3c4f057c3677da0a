#pragma once

#include "headless/ports_file.h"

#include <QHostAddress>
#include <QList>
#include <QString>

#include <variant>

namespace orvik::pjlink {

// PJLink's own port.
inline constexpr quint16 kDefaultPort = 4352;

// Where one projector listens.
struct ListenAddress {
    QHostAddress host = QHostAddress::Any; // every address, IPv4 and IPv6
    quint16 port = kDefaultPort;
};

// "[HOST][:PORT]": an IPv4 address, an IPv6 address in brackets, or
// "localhost"; a port from 1 to 65535. Anything else gives the reason.
std::variant<ListenAddress, QString> parseListenAddress(const QString& text);

// The address of each port that has one, in order; or the first bad field
// or the first address taken twice, with the ports file's line number.
struct Listener {
    int index; // into the ports
    ListenAddress address;
};
std::variant<QList<Listener>, QString> listenersOf(const QList<NamedPort>& ports);

} // namespace orvik::pjlink
