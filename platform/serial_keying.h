// Keying the transmitter with the DTR or RTS line of a serial port, through the port's modem-line
// ioctls only: the port's speed, framing and other line settings are never touched.
#pragma once

#include <memory>
#include <string>

#include "audio/keying_ports.h"

namespace kavra::platform {

// The device that keying port `number` ("COM" + number + ":") opens:
//   - `device` itself when it is not empty (for example /dev/ttyUSB0 or /dev/ttyACM0);
//   - otherwise /dev/ttyS(number - 1): COM1: is /dev/ttyS0, COM3: is /dev/ttyS2;
//   - "" (nothing can be opened) for a number below 1 with no device given.
std::string SerialDeviceFor(int number, const std::string& device);

class SerialKeyingPorts : public audio::KeyingPorts {
public:
    // Opens the device read-write, without becoming its controlling terminal, without waiting
    // for carrier, and exclusively (TIOCEXCL); none when it is missing, busy or not a terminal.
    std::unique_ptr<audio::KeyingPort> Open(int number, const std::string& device) override;
};

}  // namespace kavra::platform
