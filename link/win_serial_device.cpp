#include "link/win_serial_device.h"

#include "link/port_map.h"

#include <QTimer>
#include <QWinEventNotifier>

#include <windows.h>

namespace orvik {
namespace {

constexpr DWORD kReadChunk = 1024; // the receive buffer

QString systemMessage(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD size =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = size ? QString::fromWCharArray(text, int(size)).trimmed() : QStringLiteral("error %1").arg(code);
    LocalFree(text);
    return message;
}

bool applyTo(HANDLE port, const LineSettings& s)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return false;
    dcb.BaudRate = DWORD(s.baud);
    dcb.ByteSize = BYTE(s.dataBits);
    dcb.Parity = s.parity == Parity::Even    ? EVENPARITY
                 : s.parity == Parity::Odd   ? ODDPARITY
                 : s.parity == Parity::Mark  ? MARKPARITY
                 : s.parity == Parity::Space ? SPACEPARITY
                                             : NOPARITY;
    dcb.StopBits = s.stopBits == StopBits::Two          ? TWOSTOPBITS
                   : s.stopBits == StopBits::OneAndHalf ? ONE5STOPBITS
                                                        : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = s.parity != Parity::None;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    return SetCommState(port, &dcb);
}

} // namespace

// The port and one overlapped read and write, each with its event.
struct WinSerialDevice::Io {
    HANDLE port = INVALID_HANDLE_VALUE;
    OVERLAPPED read{};
    OVERLAPPED write{};
    char byte = 0;
    QByteArray inFlight;
    std::unique_ptr<QWinEventNotifier> readDone;
    std::unique_ptr<QWinEventNotifier> writeDone;

    Io()
    {
        read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Io()
    {
        readDone.reset();
        writeDone.reset();
        CloseHandle(read.hEvent);
        CloseHandle(write.hEvent);
    }
};

WinSerialDevice::WinSerialDevice(QObject* parent)
    : ReconnectingDevice(parent)
    , io_(std::make_unique<Io>())
{
    io_->readDone = std::make_unique<QWinEventNotifier>(io_->read.hEvent);
    io_->writeDone = std::make_unique<QWinEventNotifier>(io_->write.hEvent);
    io_->readDone->setEnabled(false);
    io_->writeDone->setEnabled(false);
    connect(io_->readDone.get(), &QWinEventNotifier::activated, this, &WinSerialDevice::onReadDone);
    connect(io_->writeDone.get(), &QWinEventNotifier::activated, this, &WinSerialDevice::onWriteDone);
}

WinSerialDevice::~WinSerialDevice() { disconnectLine(); }

bool WinSerialDevice::connectLine(OpenFailure* why)
{
    OpenFailure scratch;
    OpenFailure& reason = why ? *why : scratch;
    const QString device = path();
    HANDLE port = CreateFileW(reinterpret_cast<const wchar_t*>(device.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        reason = {OpenFailure::Kind::Other, systemMessage(error), 0, {}};
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            reason.kind = OpenFailure::Kind::Missing;
            reason.ports = orderedPorts(serialPortsOfThisMachine());
        } else if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            reason.kind = OpenFailure::Kind::Busy;
        }
        return false;
    }
    // No time-outs: a read of one byte ends when that byte arrives. (The
    // communications events and the read time-out special cases are where
    // emulations such as Wine differ; a one-byte read is the same everywhere.)
    COMMTIMEOUTS timeouts{0, 0, 0, 0, 0};
    if (!SetupComm(port, kReadChunk, DWORD(kOutBufferSize)) || !SetCommTimeouts(port, &timeouts)
        || !applyTo(port, settings())) {
        reason = {OpenFailure::Kind::Other, systemMessage(GetLastError()), 0, {}};
        CloseHandle(port);
        return false;
    }
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    io_->port = port;
    waiting_.clear();
    writing_ = 0;
    QByteArray first; // purged just now: nothing to deliver yet
    QString error;
    if (!startRead(&first, &error)) { // a port that cannot be read is not open
        reason = {OpenFailure::Kind::Other, error, 0, {}};
        disconnectLine();
        return false;
    }
    return true;
}

void WinSerialDevice::disconnectLine()
{
    if (io_->port == INVALID_HANDLE_VALUE)
        return;
    io_->readDone->setEnabled(false);
    io_->writeDone->setEnabled(false);
    CancelIo(io_->port);
    DWORD done = 0; // the cancelled transfers end before their buffers go
    GetOverlappedResult(io_->port, &io_->read, &done, TRUE);
    if (writing_ > 0)
        GetOverlappedResult(io_->port, &io_->write, &done, TRUE);
    CloseHandle(io_->port);
    io_->port = INVALID_HANDLE_VALUE;
    waiting_.clear();
    writing_ = 0;
}

bool WinSerialDevice::applyLine(const LineSettings& settings) { return applyTo(io_->port, settings); }

qsizetype WinSerialDevice::waitingOut() const { return writing_ + waiting_.size(); }

bool WinSerialDevice::writeLine(const QByteArray& bytes)
{
    waiting_ += bytes;
    QString error;
    if (writing_ == 0 && !startWrite(&error)) {
        lose(error);
        return false; // the write failed: said, not taken for sent
    }
    return true;
}

void WinSerialDevice::discardLineInput() { PurgeComm(io_->port, PURGE_RXCLEAR); }

bool WinSerialDevice::startRead(QByteArray* got, QString* error)
{
    // What is there already comes at once; the first read left pending is
    // finished by onReadDone().
    for (;;) {
        ResetEvent(io_->read.hEvent);
        DWORD count = 0;
        if (!ReadFile(io_->port, &io_->byte, 1, &count, &io_->read)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                *error = systemMessage(GetLastError());
                return false;
            }
            io_->readDone->setEnabled(true);
            return true;
        }
        if (count == 0) { // not expected without time-outs: try again shortly rather than spin
            QTimer::singleShot(100, this, [this] {
                if (!isLive())
                    return;
                QByteArray more;
                QString error;
                if (!startRead(&more, &error))
                    return lose(error);
                deliver(more);
            });
            return true;
        }
        got->append(io_->byte);
    }
}

void WinSerialDevice::onReadDone()
{
    io_->readDone->setEnabled(false);
    DWORD count = 0;
    if (!GetOverlappedResult(io_->port, &io_->read, &count, FALSE)) {
        lose(systemMessage(GetLastError()));
        return;
    }
    QByteArray got;
    if (count == 1)
        got.append(io_->byte);
    QString error;
    const bool reading = startRead(&got, &error);
    deliver(got); // first: the bytes came before the failure
    if (!reading)
        lose(error);
}

bool WinSerialDevice::startWrite(QString* error)
{
    if (waiting_.isEmpty())
        return true;
    io_->inFlight.swap(waiting_);
    waiting_.clear();
    writing_ = io_->inFlight.size();
    ResetEvent(io_->write.hEvent);
    if (!WriteFile(io_->port, io_->inFlight.constData(), DWORD(io_->inFlight.size()), nullptr, &io_->write)
        && GetLastError() != ERROR_IO_PENDING) {
        writing_ = 0;
        *error = systemMessage(GetLastError());
        return false;
    }
    io_->writeDone->setEnabled(true);
    return true;
}

void WinSerialDevice::onWriteDone()
{
    io_->writeDone->setEnabled(false);
    DWORD wrote = 0;
    const bool ok = GetOverlappedResult(io_->port, &io_->write, &wrote, FALSE);
    writing_ = 0;
    QString error;
    if (!ok)
        error = systemMessage(GetLastError());
    if (!ok || !startWrite(&error))
        lose(error);
}

} // namespace orvik
