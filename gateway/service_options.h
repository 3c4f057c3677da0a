#pragma once

#include "gateway/service.h"
#include "headless/ports_file.h"
#include "link/line_settings.h"
#include "mqtt/bridge.h"
#include "mqtt/mqtt_client.h"
#include "pjlink/address.h"
#include "pjlink/face.h"
#include "service/projector_node.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

namespace orvik {

// What the command line of orvik-gateway or orvik-mqtt asks for, checked.
struct ServiceOptions {
    QList<NamedPort> ports;
    QList<pjlink::Listener> listeners;
    pjlink::Face::Settings pjlink;
    bool onBroker = false;
    MqttClient::Settings mqtt;
    Bridge::Settings bridge;
    ProjectorNode::Timing timing;
    LineSettings settings;
    QString controlSocket;           // where the service listens, unless systemd gave a socket
    bool controlSocketGiven = false; // by --control-socket: it must be had
    QString prometheus;              // the metrics file, if any
};

// Reads the arguments (the program's name first). The options, or the exit
// status when the program ends here: 0 after --help or --version, 2 after a
// usage error (said on standard error). Names the application.
std::variant<ServiceOptions, int> readServiceOptions(ServiceFaces faces, const QStringList& arguments);

// The first line of a file of secrets, at most `longest` bytes, or the error
// with the file's name. Nothing more than that is read.
std::variant<QByteArray, QString> readSecret(const QString& path, qsizetype longest);

} // namespace orvik
