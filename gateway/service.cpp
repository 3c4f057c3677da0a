#include "gateway/service.h"

#include "control_socket/control_face.h"
#include "core/clock.h"
#include "core/event_dispatcher.h"
#include "core/exit_signals.h"
#include "core/logging.h"
#include "core/process_limits.h"
#include "gateway/metrics_file.h"
#include "gateway/service_options.h"
#include "gateway/systemd.h"
#include "link/port_map.h"

#include <QCoreApplication>

namespace orvik {
namespace {

using namespace std::chrono_literals;

// Everything the service runs, made in order and ended in the reverse.
class Service {
public:
    explicit Service(ServiceOptions options)
        : options_(std::move(options))
        , nodes_(makeNodes())
        , served_(pointersTo(nodes_))
        , controlFace_(QCoreApplication::applicationName(), served_)
        , pjlinkFace_(options_.pjlink, clock_)
    {
    }

    // Opens what must be had; the exit status if something cannot be.
    std::optional<int> start()
    {
        if (!listenForClients())
            return 1;
        if (!options_.prometheus.isEmpty())
            // After a round: three polls that may each time out.
            metricsFile_ = std::make_unique<MetricsFile>(
                options_.prometheus, served_, clock_, 3 * options_.timing.replyTimeout + 1000ms, options_.timing.poll);
        for (const pjlink::Listener& l : options_.listeners)
            if (const auto error = pjlinkFace_.serve(*nodes_[l.index], l.address)) {
                const NamedPort& port = options_.ports[l.index];
                qCCritical(lcPjlink).noquote()
                    << QStringLiteral("%1: cannot listen for PJLink on %2: %3").arg(port.name, *port.pjlink, *error);
                return 1;
            }
        if (options_.onBroker && !startBroker())
            return 1;
        for (const auto& node : nodes_)
            node->start();
        if (metricsFile_)
            metricsFile_->start();
        return std::nullopt;
    }

    // After the event loop: every projector and the bridge say offline.
    void finish()
    {
        if (client_)
            client_->finish(bridge_->lastWords(), 2000ms);
    }

private:
    std::vector<std::unique_ptr<ProjectorNode>> makeNodes()
    {
        std::vector<std::unique_ptr<ProjectorNode>> nodes;
        for (const NamedPort& p : options_.ports) {
            auto node = std::make_unique<ProjectorNode>(p, options_.settings, options_.timing, clock_);
            QObject::connect(node.get(), &ProjectorNode::problem, node.get(),
                             [](const QString& text) { qCWarning(lcLink).noquote() << text; });
            QObject::connect(node.get(), &ProjectorNode::recovered, node.get(),
                             [](const QString& text) { qCInfo(lcLink).noquote() << text; });
            nodes.push_back(std::move(node));
        }
        return nodes;
    }

    static std::vector<ProjectorNode*> pointersTo(const std::vector<std::unique_ptr<ProjectorNode>>& nodes)
    {
        std::vector<ProjectorNode*> pointers;
        for (const auto& node : nodes)
            pointers.push_back(node.get());
        return pointers;
    }

    // The other programs of the family go through the service: a socket
    // given by name must be had, the default one is a convenience. Under
    // systemd the socket unit made it.
    bool listenForClients()
    {
        QString passed;
        const auto fd = socketFromSystemd(&passed);
        const auto error = fd                 ? controlFace_.adopt(*fd)
                           : passed.isEmpty() ? controlFace_.listen(options_.controlSocket)
                                              : std::optional<QString>(passed);
        if (!error)
            return true;
        if (options_.controlSocketGiven || fd) {
            qCCritical(lcControl).noquote() << *error;
            return false;
        }
        qCWarning(lcControl).noquote()
            << QStringLiteral("%1; orvik-send and orvik-control cannot reach these projectors while this service "
                              "runs (--control-socket PATH gives another place)")
                   .arg(*error);
        return true;
    }

    bool startBroker()
    {
        client_ = std::make_unique<MqttClient>(options_.mqtt);
        QObject::connect(client_.get(), &MqttClient::connected, client_.get(), [this] {
            qCInfo(lcMqtt).noquote()
                << QStringLiteral("connected to the broker at %1:%2").arg(options_.mqtt.host).arg(options_.mqtt.port);
        });
        QObject::connect(client_.get(), &MqttClient::disconnected, client_.get(),
                         [](const QString& why) { qCWarning(lcMqtt).noquote() << why; });
        bridge_ = std::make_unique<Bridge>(options_.bridge, *client_, served_);
        QString error;
        if (client_->start(&error))
            return true;
        qCCritical(lcMqtt).noquote() << error;
        return false;
    }

    const ServiceOptions options_;
    TimerClock clock_; // hundreds of alarms: no descriptor each
    std::vector<std::unique_ptr<ProjectorNode>> nodes_;
    std::vector<ProjectorNode*> served_;
    ControlFace controlFace_;
    std::unique_ptr<MetricsFile> metricsFile_;
    pjlink::Face pjlinkFace_;
    std::unique_ptr<MqttClient> client_;
    std::unique_ptr<Bridge> bridge_;
};

} // namespace

int runService(int argc, char* argv[], ServiceFaces faces)
{
    useEventLoopOfHeadlessPrograms(); // a thousand ports cost only their events
    QCoreApplication app(argc, argv);
    auto read = readServiceOptions(faces, QCoreApplication::arguments());
    if (const int* status = std::get_if<int>(&read))
        return *status;
    ServiceOptions& options = std::get<ServiceOptions>(read);
    resolveComPorts(options.ports);
    const std::size_t needed = kSpareDescriptors + kDescriptorsPerPort * std::size_t(options.ports.size())
                               + std::size_t(options.listeners.size()) + std::size_t(ControlFace::kMaxConnections);
    if (const auto tooFew = raiseOpenFilesLimit(needed)) {
        qCCritical(lcLink).noquote() << QStringLiteral("%1 ports: %2").arg(options.ports.size()).arg(*tooFew);
        return 1;
    }
    quitOnTerminationSignals();

    Service service(std::move(options));
    if (const auto status = service.start())
        return *status;
    tellSystemdReady();
    QCoreApplication::exec();
    service.finish();
    return 0;
}

} // namespace orvik
