#include "serial/qt_serial_port.h"

#include "serial/device_probe.h"
#include "serial/line_settings.h"

#ifndef _WIN32
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace {

QSerialPort::Parity ToQt(char parity) {
    switch (parity) {
        case 'e':
            return QSerialPort::EvenParity;
        case 'o':
            return QSerialPort::OddParity;
        case 'm':
            return QSerialPort::MarkParity;
        case 's':
            return QSerialPort::SpaceParity;
        default:
            return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits ToQt(StopBits stopBits) {
    switch (stopBits) {
        case StopBits::OneAndHalf:
            return QSerialPort::OneAndHalfStop;
        case StopBits::Two:
            return QSerialPort::TwoStop;
        default:
            return QSerialPort::OneStop;
    }
}

bool Configure(QSerialPort& port, const LineSettings& line) {
    return port.setBaudRate(line.baud) && port.setParity(ToQt(line.parity)) &&
           port.setDataBits(static_cast<QSerialPort::DataBits>(line.dataBits)) &&
           port.setStopBits(ToQt(line.stopBits)) && port.setFlowControl(QSerialPort::NoFlowControl);
}

}  // namespace

QtSerialPort::QtSerialPort(std::function<PortNames()> names) : names_(std::move(names)) {}

QtSerialPort::~QtSerialPort() {
    Close();
}

bool QtSerialPort::Open() {
    if (port_.isOpen()) {
        return false;
    }
    std::optional<LineSettings> line = ParseLineSettings(settings_);
    std::string device = Device();
    // Qt's own lock file is not enough: root passes an exclusive open, and programs such as
    // picocom only flock the device.
    if (!line || !DeviceIsFree(device)) {
        return false;
    }
#ifdef _WIN32
    // QSerialPort takes "COMn" and adds the \\.\ itself.
    if (device.rfind("\\\\.\\", 0) == 0) {
        device.erase(0, 4);
    }
#endif
    port_.setPortName(QString::fromStdString(device));
    port_.setReadBufferSize(1024);
#ifdef _WIN32
    // Qt's Windows port sends nothing when opened write-only (seen under Wine): its overlapped
    // writes complete through the watch a read-write open starts. What comes in stays in the
    // 1024-byte read buffer and is never read.
    constexpr QIODevice::OpenMode kMode = QIODevice::ReadWrite;
#else
    constexpr QIODevice::OpenMode kMode = QIODevice::WriteOnly;
#endif
    if (!port_.open(kMode)) {
        return false;
    }
#ifndef _WIN32
    if (::flock(static_cast<int>(port_.handle()), LOCK_EX | LOCK_NB) != 0) {
        port_.close();
        return false;
    }
#endif
    if (!Configure(port_, *line)) {
        port_.close();
        return false;
    }
    return true;
}

void QtSerialPort::Close() {
    if (port_.isOpen()) {
        port_.close();
    }
}

bool QtSerialPort::Output(std::string_view bytes) {
    if (!port_.isOpen()) {
        return false;
    }
#ifndef _WIN32
    // Straight to the device: the bytes leave now, never later from a buffer, and a device
    // that has gone away cannot leave a write pending that the event loop keeps retrying.
    ssize_t written;
    do {
        written = ::write(static_cast<int>(port_.handle()), bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(bytes.size());
#else
    qint64 written = port_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    port_.flush();
    return written == static_cast<qint64>(bytes.size());
#endif
}

bool QtSerialPort::Vanished() const {
#ifndef _WIN32
    if (!port_.isOpen()) {
        return false;
    }
    // A device that was unplugged or hung up reports it without being written to.
    pollfd line{static_cast<int>(port_.handle()), 0, 0};
    return ::poll(&line, 1, 0) == 1 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    // Writes complete later on Windows, so a device that has gone away shows up as the error
    // Qt records when one of them fails: ResourceError for an unplugged USB emitter, WriteError
    // for a line that was hung up.
    QSerialPort::SerialPortError error = port_.error();
    return port_.isOpen() &&
           (error == QSerialPort::ResourceError || error == QSerialPort::WriteError);
#endif
}
