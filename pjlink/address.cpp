#include "pjlink/address.h"

namespace orvik::pjlink {
namespace {

// Two listeners clash when they share a port and one of them takes every
// address, or both take the same one.
bool clash(const ListenAddress& a, const ListenAddress& b)
{
    if (a.port != b.port)
        return false;
    const auto every = [](const QHostAddress& h) { return h == QHostAddress::Any || h == QHostAddress::AnyIPv6; };
    return every(a.host) || every(b.host) || a.host == b.host;
}

QString shown(const ListenAddress& a)
{
    const QString host = a.host == QHostAddress::Any                          ? QStringLiteral("every address")
                         : a.host.protocol() == QAbstractSocket::IPv6Protocol ? u'[' + a.host.toString() + u']'
                                                                              : a.host.toString();
    return QStringLiteral("%1 port %2").arg(host).arg(a.port);
}

} // namespace

std::variant<ListenAddress, QString> parseListenAddress(const QString& text)
{
    ListenAddress address;
    QString host = text;
    QString port;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return QStringLiteral("'%1' opens '[' without closing it").arg(text);
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':'))
            return QStringLiteral("'%1' has '%2' after the address").arg(text, rest);
        port = rest.mid(1);
        if (rest == u":")
            return QStringLiteral("'%1' has ':' without a port").arg(text);
        if (host.isEmpty() || !address.host.setAddress(host)
            || address.host.protocol() != QAbstractSocket::IPv6Protocol)
            return QStringLiteral("'%1' is no IPv6 address").arg(host);
    } else {
        if (text.count(u':') > 1)
            return QStringLiteral("'%1': an IPv6 address goes in brackets, [ADDRESS]:PORT").arg(text);
        const qsizetype colon = text.indexOf(u':');
        if (colon >= 0) {
            host = text.left(colon);
            port = text.mid(colon + 1);
            if (port.isEmpty())
                return QStringLiteral("'%1' has ':' without a port").arg(text);
        }
        if (host == u"localhost")
            address.host = QHostAddress::LocalHost;
        else if (!host.isEmpty()
                 && (!address.host.setAddress(host) || address.host.protocol() != QAbstractSocket::IPv4Protocol))
            return QStringLiteral("'%1' is no IPv4 address (an IPv6 address goes in brackets)").arg(host);
    }
    if (!port.isEmpty()) {
        bool ok = false;
        const uint number = port.toUInt(&ok);
        if (!ok || number < 1 || number > 65535 || port.startsWith(u'+'))
            return QStringLiteral("the port '%1' is not from 1 to 65535").arg(port);
        address.port = quint16(number);
    }
    return address;
}

std::variant<QList<Listener>, QString> listenersOf(const QList<NamedPort>& ports)
{
    QList<Listener> listeners;
    for (int i = 0; i < ports.size(); ++i) {
        const NamedPort& port = ports[i];
        if (!port.pjlink)
            continue;
        const auto parsed = parseListenAddress(*port.pjlink);
        if (const QString* error = std::get_if<QString>(&parsed))
            return QStringLiteral("%1: pjlink=%2: %3").arg(port.line).arg(*port.pjlink, *error);
        const ListenAddress address = std::get<ListenAddress>(parsed);
        for (const Listener& earlier : listeners)
            if (clash(earlier.address, address))
                return QStringLiteral("%1: %2 on %3 and %4 on %5 (line %6) cannot both listen; give each its own "
                                      "address or port")
                    .arg(port.line)
                    .arg(port.name, shown(address), ports[earlier.index].name, shown(earlier.address))
                    .arg(ports[earlier.index].line);
        listeners.append({i, address});
    }
    return listeners;
}

} // namespace orvik::pjlink
