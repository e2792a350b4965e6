#include "platform/serial_keying.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace kavra::platform {
namespace {

TEST(SerialKeying, PortNumbersMapToDevices) {
    EXPECT_EQ(SerialDeviceFor(1, ""), "/dev/ttyS0");
    EXPECT_EQ(SerialDeviceFor(3, ""), "/dev/ttyS2");
    EXPECT_EQ(SerialDeviceFor(255, ""), "/dev/ttyS254");
    EXPECT_EQ(SerialDeviceFor(3, "/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SerialDeviceFor(0, ""), "");
    EXPECT_EQ(SerialDeviceFor(-4, ""), "");
}

TEST(SerialKeying, WhatIsNotASerialPortDoesNotOpen) {
    SerialKeyingPorts ports;
    EXPECT_EQ(ports.Open(1, "/dev/kavra-no-such-port"), nullptr);
    EXPECT_EQ(ports.Open(0, ""), nullptr);
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("kavra-not-a-tty-" + std::to_string(::getpid()));
    std::ofstream(file) << "x";
    EXPECT_EQ(ports.Open(1, file.string()), nullptr);
    std::filesystem::remove(file);
}

// A pseudo-terminal opens like a serial port but has no modem lines: the line calls answer
// false and nothing else happens.
TEST(SerialKeying, APseudoTerminalOpensExclusivelyAndRefusesTheLines) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    SerialKeyingPorts ports;
    {
        auto port = ports.Open(1, name);
        ASSERT_NE(port, nullptr);
        EXPECT_FALSE(port->SetLine(audio::KeyLine::Dtr, true));
        EXPECT_FALSE(port->SetLine(audio::KeyLine::Rts, true));
        EXPECT_FALSE(port->SetLine(audio::KeyLine::Dtr, false));
        if (::geteuid() != 0) {  // root may open a terminal held exclusively
            EXPECT_EQ(ports.Open(1, name), nullptr) << "a second opening while the first holds it";
        }
    }
    // Closed: the exclusive hold is gone.
    EXPECT_NE(ports.Open(1, name), nullptr);
    ::close(master);
}

}  // namespace
}  // namespace kavra::platform
