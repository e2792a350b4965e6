// The link layer's part of the station settings.
#pragma once

#include <cstdint>
#include <string>

namespace kavra::link {

// Channel-access times in ms, chosen by modem type.
struct LinkTimingSet {
    std::uint32_t idle_poll_interval_ms;      // PollInterval outside file transfers
    std::uint32_t idle_reply_delay_ms;        // ReplyDelay outside file transfers
    std::uint32_t transfer_poll_interval_ms;  // PollInterval of both sides during a transfer
    std::uint32_t data_reply_delay_ms;        // ReplyDelay of the receiving side during a transfer
    std::uint32_t ack_reply_delay_ms;         // ReplyDelay of the sending side during a transfer
};

constexpr LinkTimingSet TimingSetFor(int modem_type) {
    return modem_type == 1 ? LinkTimingSet{15000, 6000, 62000, 49000, 6000}
                           : LinkTimingSet{12000, 4000, 52000, 41000, 5000};
}

// "Enable AutoConnect" / "Enable AutoReceive": stored as 2 (checked), 1 (grayed), other (cleared).
enum class AutoAccept : std::uint8_t { Never = 0, Privileged = 1, All = 2 };
constexpr AutoAccept AutoAcceptFromSetting(std::uint32_t stored) {
    return stored == 2 ? AutoAccept::All : stored == 1 ? AutoAccept::Privileged : AutoAccept::Never;
}

inline constexpr int kMinConnectAttempts = 1;
inline constexpr int kMaxConnectAttempts = 10;

struct LinkSettings {
    std::string own_callsign;     // CALLSIGN; only its first 8 characters are used
    int modem_type = 0;           // MODEM_TYPE, 0 or 1
    AutoAccept auto_connect = AutoAccept::All;
    AutoAccept auto_receive = AutoAccept::All;
    bool limited_attempts = true; // "Limited count connecting attempts"
    int connect_attempts = 5;     // "Connecting attempts count", 1..10
};

}  // namespace kavra::link
