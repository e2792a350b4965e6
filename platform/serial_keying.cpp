#include "platform/serial_keying.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kavra::platform {
namespace {

class SerialKeyingPort : public audio::KeyingPort {
public:
    explicit SerialKeyingPort(int fd) : fd_(fd) {}
    ~SerialKeyingPort() override {
        ::ioctl(fd_, TIOCNXCL);  // let others open it again
        ::close(fd_);
    }
    SerialKeyingPort(const SerialKeyingPort&) = delete;
    SerialKeyingPort& operator=(const SerialKeyingPort&) = delete;

    bool SetLine(audio::KeyLine line, bool high) override {
        int bits = line == audio::KeyLine::Rts ? TIOCM_RTS : TIOCM_DTR;
        return ::ioctl(fd_, high ? TIOCMBIS : TIOCMBIC, &bits) == 0;
    }

private:
    int fd_;
};

}  // namespace

std::string SerialDeviceFor(int number, const std::string& device) {
    if (!device.empty()) return device;
    if (number < 1) return {};
    return "/dev/ttyS" + std::to_string(number - 1);
}

std::unique_ptr<audio::KeyingPort> SerialKeyingPorts::Open(int number, const std::string& device) {
    const std::string path = SerialDeviceFor(number, device);
    if (path.empty()) return nullptr;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // Not a terminal (a plain file, say).  A port held exclusively by another program already
    // failed to open (EBUSY).
    if (!::isatty(fd) || ::ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<SerialKeyingPort>(fd);
}

}  // namespace kavra::platform
