#include "serial/system_serial_port.h"

#include "serial/termios_serial_port.h"

// The device opened by the program itself: QSerialPort would let a lock file in the shared
// lock folder, which any local user may write, refuse it the port.
std::unique_ptr<SerialPort> MakeSystemSerialPort(std::function<PortNames()> names) {
    return std::make_unique<TermiosSerialPort>(std::move(names));
}
