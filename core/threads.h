#pragma once

#include <QObject>

#include <functional>

namespace orvik {

// Runs `f` on the thread of `context`, from its event loop; with
// Qt::BlockingQueuedConnection, waiting for it. The hand-over is told to
// ThreadSanitizer, which cannot see Qt's event queue (Qt is not built with
// it): what was written before the call is known to `f`, and what `f`
// wrote to a caller that waited.
void runOn(QObject* context, std::function<void()> f, Qt::ConnectionType type = Qt::QueuedConnection);

} // namespace orvik
