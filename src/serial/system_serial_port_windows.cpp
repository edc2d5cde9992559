#include "serial/system_serial_port.h"

#include "serial/qt_serial_port.h"

std::unique_ptr<SerialPort> MakeSystemSerialPort(std::function<PortNames()> names) {
    return std::make_unique<QtSerialPort>(std::move(names));
}
