// Transmitter keying: ReceiveEnabled, which mutes the capture feed while the station transmits,
// and the DTR or RTS line of a serial port for radios without VOX.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "audio/keying_ports.h"
#include "link/ports.h"

namespace kavra::audio {

struct KeyingSettings {
    bool use_port = false;   // USE_COM_PORT
    int port_number = 1;     // COM_PORT_NUMBER
    KeyLine line = KeyLine::Dtr;  // DTR_OR_RTS
    std::string device;      // COM_PORT_DEVICE: a device named by the user instead of the number's
};

// "COM" + number + ":", the name the log shows.
std::string PortName(int number);

class TransmitterKeying {
public:
    explicit TransmitterKeying(KeyingPorts& ports) : ports_(ports) {}
    ~TransmitterKeying() { ClosePort(); }
    TransmitterKeying(const TransmitterKeying&) = delete;
    TransmitterKeying& operator=(const TransmitterKeying&) = delete;

    // ---- user-interface thread, while the link is idle
    void SetLine(KeyLine line) noexcept { settings_.line = line; }
    void SetMethod(bool use_port, int port_number, std::string device);
    const KeyingSettings& Settings() const noexcept { return settings_; }
    // (Re)opens the port as the settings say, logging what happened; port-ready afterwards.
    void OpenControlPort(link::UserInterface& ui);
    // Lowers the keying line if the port is open, then closes the port.  Every way out of the
    // station passes here, so a radio is never left keyed by an adapter that holds its lines.
    void ClosePort();

    // ---- TransmitThread (and the user-interface thread when the line setting changes)
    void Key();
    void Unkey();

    // ---- any thread
    bool ReceiveEnabled() const noexcept { return receive_enabled_.load(std::memory_order_acquire) != 0; }
    bool Keyed() const noexcept { return keyed_.load(std::memory_order_acquire); }
    bool PortReady() const noexcept { return port_ready_.load(std::memory_order_acquire); }
    bool PortOpen() const noexcept { return port_ != nullptr; }

private:
    KeyingPorts& ports_;
    KeyingSettings settings_;
    std::unique_ptr<KeyingPort> port_;
    int open_number_ = 0;
    std::atomic<int> receive_enabled_{1};
    std::atomic<bool> keyed_{false};
    std::atomic<bool> port_ready_{false};
};

}  // namespace kavra::audio
