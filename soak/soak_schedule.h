// The seeded random schedule of a soak run: what the two operators do (calls, answers, chat
// lines at the edges of the character set, files of every size with hostile names, stopping,
// disconnecting, a second call while one is up) and what the channel does (S/N, fading, carrier
// and card-rate offsets, spans where a station hears nothing, a station that vanishes and comes
// back, a third station calling over them).  Each action is numbered: a seed and a step number
// name any moment of a run, and the same seed replays it.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>

#include "link/link_session.h"

namespace kavra::soak {

inline constexpr int kStationA = 0;
inline constexpr int kStationB = 1;
inline constexpr int kIntruder = 2;  // calls a station that is not there, over the others
inline constexpr std::array<const char*, 3> kSoakCallsigns{"SOAKA", "SOAKB", "INTRUDR"};

// What one station hears of another for a while.
struct PathEpisode {
    double snr_db = 20.0;
    std::string fading = "none";  // none, good, moderate, poor, flutter
    double offset_hz = 0.0;
    double clock_ppm = 0.0;
};

enum class ActionKind : std::uint8_t {
    Connect,       // to the other station, now and then to a callsign nobody has
    Disconnect,
    Chat,
    SendFile,
    StopTransfer,
    Answers,       // how the operator answers calls and file offers from now on
    Channel,       // a new path each way
    Deaf,          // the station hears nothing for `span_ms`
    Vanish,        // the station is gone for `span_ms`, then restarts fresh
    Intruder,      // the third station calls nobody
};

enum class Reply : std::uint8_t { Yes, No, Ignore };  // Ignore: the question times out

struct SoakAction {
    std::uint64_t step = 0;
    std::uint64_t at_ms = 0;
    ActionKind kind = ActionKind::Chat;
    int station = kStationA;
    std::string text;        // callsign, chat line or file name (single-byte text)
    std::uint32_t size = 0;  // file size
    std::uint32_t span_ms = 0;
    Reply calls = Reply::Yes;
    Reply offers = Reply::Yes;
    std::array<PathEpisode, 2> paths{};  // [0]: what B hears of A, [1]: what A hears of B
};

// One line for logs and failure reports.
std::string DescribeAction(const SoakAction& action);

// The link state of both stations, which the operators look at before they act.
struct WorldSnapshot {
    std::array<link::LinkState, 2> state{link::LinkState::Idle, link::LinkState::Idle};
    std::array<bool, 2> present{true, true};
};

class SoakSchedule {
public:
    SoakSchedule(std::uint64_t seed, std::array<std::string, 2> callsigns);

    // The next action, at a time after `now_ms`, chosen for the world as it is.
    SoakAction Next(std::uint64_t now_ms, const WorldSnapshot& world);

private:
    PathEpisode DrawPath();
    std::string DrawFileName(std::uint64_t step);
    std::string DrawChatLine();
    std::uint32_t DrawFileSize();
    Reply DrawReply();

    std::mt19937_64 rng_;
    std::array<std::string, 2> callsigns_;
    std::uint64_t step_ = 0;
};

}  // namespace kavra::soak
