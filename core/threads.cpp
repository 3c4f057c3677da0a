#include "core/threads.h"

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#else
namespace {
void __tsan_acquire(void*) {}
void __tsan_release(void*) {}
} // namespace
#endif

namespace orvik {
namespace {
char handOver; // stands for Qt's queue of events
} // namespace

void runOn(QObject* context, std::function<void()> f, Qt::ConnectionType type)
{
    __tsan_release(&handOver);
    QMetaObject::invokeMethod(
        context,
        [f = std::move(f)] {
            __tsan_acquire(&handOver);
            f();
            __tsan_release(&handOver);
        },
        type);
    __tsan_acquire(&handOver);
}

} // namespace orvik
