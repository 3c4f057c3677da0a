#pragma once

#include "core/clock.h"
#include "headless/metrics.h"

#include <QObject>

#include <memory>
#include <vector>

namespace orvik {

class ProjectorNode;

// The service's Prometheus file, for node_exporter's textfile collector:
// what the polls learnt, with orvik-send's metrics, rewritten after each
// round of polls.
class MetricsFile : public QObject {
    Q_OBJECT
public:
    // Written `first` after start(), then every `every`: a round's polls
    // have been answered or timed out by then.
    MetricsFile(QString path, const std::vector<ProjectorNode*>& nodes, Clock& clock, Millis first, Millis every,
                QObject* parent = nullptr);
    ~MetricsFile() override;

    void start();

private:
    void write();

    QString path_;
    Metrics metrics_;
    Millis first_;
    Millis every_;
    std::unique_ptr<Alarm> alarm_;
    QString lastError_;
};

} // namespace orvik
