#include "gateway/metrics_file.h"

#include "core/logging.h"
#include "service/projector_node.h"

namespace orvik {

MetricsFile::MetricsFile(QString path, const std::vector<ProjectorNode*>& nodes, Clock& clock, Millis first,
                         Millis every, QObject* parent)
    : QObject(parent)
    , path_(std::move(path))
    , first_(first)
    , every_(every)
    , alarm_(clock.makeAlarm([this] {
        alarm_->start(every_);
        write();
    }))
{
    for (ProjectorNode* node : nodes) {
        const QString name = node->port().name;
        metrics_.add(name);
        const auto record = [this, name](const Command& command, const Outcome& outcome) {
            metrics_.record(name, command, outcome);
        };
        connect(node, &ProjectorNode::polled, this, record);
        connect(node, &ProjectorNode::commandDone, this, record);
        connect(node, &ProjectorNode::stateChanged, this, [this, name](const QString& state, const QString& value) {
            if (state == u"availability" && value != u"online")
                metrics_.clear(name);
        });
    }
}

MetricsFile::~MetricsFile() = default;

void MetricsFile::start() { alarm_->start(first_); }

void MetricsFile::write()
{
    QString error;
    if (metrics_.write(path_, &error)) {
        lastError_.clear();
        return;
    }
    if (error != lastError_) // said once, not every round
        qCWarning(lcSend).noquote() << QStringLiteral("cannot write %1").arg(error);
    lastError_ = error;
}

} // namespace orvik
