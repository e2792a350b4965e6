#include "audio/keying.h"

namespace kavra::audio {

std::string PortName(int number) { return "COM" + std::to_string(number) + ":"; }

void TransmitterKeying::SetMethod(bool use_port, int port_number, std::string device) {
    settings_.use_port = use_port;
    settings_.port_number = port_number;
    settings_.device = std::move(device);
}

void TransmitterKeying::OpenControlPort(link::UserInterface& ui) {
    if (port_) {
        ClosePort();
        ui.AppendLog(link::LogKind::System, "Close port " + PortName(open_number_));
    }
    if (settings_.use_port) {
        const std::string name = PortName(settings_.port_number);
        port_ = ports_.Open(settings_.port_number, settings_.device);
        if (!port_) {
            ui.AppendLog(link::LogKind::Error, "Error! Can't open port " + name + " for control transmitter!");
        } else {
            Unkey();
            ui.AppendLog(link::LogKind::System, "Open port " + name + " succesfull...");
        }
        open_number_ = settings_.port_number;
    }
    port_ready_.store(true, std::memory_order_release);
}

void TransmitterKeying::ClosePort() {
    if (!port_) return;
    if (keyed_.load(std::memory_order_acquire)) port_->SetLine(settings_.line, false);
    port_.reset();
}

void TransmitterKeying::Key() {
    receive_enabled_.store(0, std::memory_order_release);
    keyed_.store(true, std::memory_order_release);
    if (settings_.use_port && port_) port_->SetLine(settings_.line, true);
}

void TransmitterKeying::Unkey() {
    if (settings_.use_port && port_) port_->SetLine(settings_.line, false);
    keyed_.store(false, std::memory_order_release);
    receive_enabled_.store(1, std::memory_order_release);
}

}  // namespace kavra::audio
