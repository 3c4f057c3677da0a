#pragma once

#include "tools/sim/projector_model.h"

#include <QObject>
#include <QString>

#include <chrono>

class QSocketNotifier;

namespace orvik::sim {

// A simulated projector at the far end of a pseudo-terminal. The panel
// opens devicePath() like a serial port; everything it writes reaches the
// model, and the model's replies come back on the line.
class PtyProjector : public QObject {
    Q_OBJECT
public:
    struct Options {
        bool silent = false;                // never answer
        std::chrono::milliseconds delay{0}; // before each reply
        int splitAt = 0;                    // > 0: reply in two writes, split here
        std::chrono::milliseconds splitGap{20};
        bool listen = true; // false: the owner reads masterFd() itself
        bool record = true; // keep what the panel writes, for received()
        int hours = 1234;   // lamp hours
        std::chrono::milliseconds warmUp{0};
        std::chrono::milliseconds coolDown{0};
    };

    explicit PtyProjector(Options options, QObject* parent = nullptr);
    PtyProjector()
        : PtyProjector(Options{})
    {
    }
    ~PtyProjector() override;

    bool isValid() const { return master_ >= 0; }
    QString errorString() const { return error_; }
    QString devicePath() const { return path_; }

    // Everything the panel has written so far, and a way to forget it.
    QByteArray received() const { return received_; }
    void clearReceived() { received_.clear(); }
    // Writes raw bytes towards the panel.
    bool send(const QByteArray& bytes);
    // Closes the far end: the panel sees its device go away.
    void hangUp();
    int masterFd() const { return master_; }

signals:
    void bytesReceived(const QByteArray& bytes);

private:
    void onReadable();
    void reply(const QByteArray& bytes);

    Options options_;
    ProjectorModel model_;
    int master_ = -1;
    int slaveKeeper_ = -1;
    QString path_;
    QString error_;
    QByteArray received_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace orvik::sim
