#include "serial/device_identity.h"

#include <QSerialPortInfo>

// Windows' own record of the port, which Device Manager shows: "USB Serial Port", "FTDI".
DeviceIdentity IdentifyDevice(const std::string& device) {
    std::string name = device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
    QSerialPortInfo info(QString::fromStdString(name));
    if (info.isNull()) {
        return {};
    }
    return {info.description().toStdString(),
            info.manufacturer().toStdString(),
            info.serialNumber().toStdString(),
            {}};
}
