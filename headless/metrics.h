#pragma once

#include "protocol/command_words.h"
#include "protocol/outcome.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace orvik {

// What one run, or the service's polls, learnt of each projector, written
// as the node_exporter textfile collector reads it.
class Metrics {
public:
    void add(const QString& projector);
    void record(const QString& projector, const Command& command, const Outcome& outcome);
    // Forgets what was learnt: the projector stopped answering.
    void clear(const QString& projector);
    QByteArray text() const;
    // Written whole or not at all (a temporary file renamed over the old).
    bool write(const QString& path, QString* error) const;

private:
    struct Projector {
        bool up = false;
        QHash<QString, QString> states; // by name: "power", "input", "lamp_hours"
        std::optional<double> replySeconds;
    };
    QList<QString> order_;
    QMap<QString, Projector> projectors_;
};

} // namespace orvik
