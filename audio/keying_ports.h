// The serial port whose DTR or RTS line keys the transmitter.
#pragma once

#include <memory>
#include <string>

namespace kavra::audio {

enum class KeyLine : int { Dtr = 0, Rts = 1 };

class KeyingPort {
public:
    virtual ~KeyingPort() = default;  // closes the port
    // Raises or lowers one line; failures are ignored by the caller.
    virtual bool SetLine(KeyLine line, bool high) = 0;
};

class KeyingPorts {
public:
    virtual ~KeyingPorts() = default;
    // Opens port `number` ("COM" + number + ":"), or the device `device` when it is not empty,
    // for writing, exclusive, without touching the line settings; none on failure.
    virtual std::unique_ptr<KeyingPort> Open(int number, const std::string& device) = 0;
};

}  // namespace kavra::audio
