#include "soak/soak_schedule.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kavra::soak {

namespace {

constexpr std::array<const char*, 5> kFadings{"none", "good", "moderate", "poor", "flutter"};

// Names a sender may have on its disk that a receiver must not take as they are: folder parts,
// drive prefixes, device names, characters file systems refuse, control and unassigned bytes,
// trailing dots and spaces, Cyrillic, and names longer than the offer carries.
constexpr std::array<const char*, 14> kHostileNames{
    "..\\..\\..\\outside.txt", "C:\\windows\\evil.dll", "CON", "nul.txt", "COM1.log", "<>:\"|?*.bin",
    "\x01\x02\x07\x1b[31mred.txt", "trailing. . .", "...", "\x98\xff\xfe.dat",
    "\xcf\xf0\xe8\xe2\xe5\xf2 \xec\xe8\xf0.txt", "spaces   in   name.txt", "a.b.c.d.e.f.g", "-rf"};

}  // namespace

std::string DescribeAction(const SoakAction& a) {
    const char* who = a.station == kStationA ? "A" : a.station == kStationB ? "B" : "intruder";
    char head[64];
    std::snprintf(head, sizeof head, "step %llu at %.1f s: %s ", static_cast<unsigned long long>(a.step),
                  static_cast<double>(a.at_ms) / 1000.0, who);
    std::string out = head;
    auto visible = [](const std::string& s) {
        std::string v;
        for (const char c : s) {
            const auto u = static_cast<unsigned char>(c);
            if (u >= 0x20 && u < 0x7f) {
                v.push_back(c);
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", u);
                v += hex;
            }
        }
        return v;
    };
    auto reply = [](Reply r) { return r == Reply::Yes ? "yes" : r == Reply::No ? "no" : "ignore"; };
    auto path = [](const PathEpisode& p) {
        char s[128];
        std::snprintf(s, sizeof s, "%.1f dB %s %+.1f Hz %+.0f ppm", p.snr_db, p.fading.c_str(), p.offset_hz, p.clock_ppm);
        return std::string(s);
    };
    switch (a.kind) {
        case ActionKind::Connect: return out + "connects to " + a.text;
        case ActionKind::Disconnect: return out + "disconnects";
        case ActionKind::Chat: return out + "says \"" + visible(a.text) + "\"";
        case ActionKind::SendFile: return out + "sends '" + visible(a.text) + "' of " + std::to_string(a.size) + " bytes";
        case ActionKind::StopTransfer: return out + "stops the transfer";
        case ActionKind::Answers:
            return out + "answers calls " + reply(a.calls) + ", file offers " + reply(a.offers);
        case ActionKind::Channel: return "step " + std::to_string(a.step) + ": channel, B hears A " + path(a.paths[0]) +
                                         ", A hears B " + path(a.paths[1]);
        case ActionKind::Deaf: return out + "hears nothing for " + std::to_string(a.span_ms / 1000) + " s";
        case ActionKind::Vanish: return out + "vanishes for " + std::to_string(a.span_ms / 1000) + " s";
        case ActionKind::Intruder: return out + "calls " + a.text;
    }
    return out;
}

SoakSchedule::SoakSchedule(std::uint64_t seed, std::array<std::string, 2> callsigns)
    : rng_(seed * 0x9E3779B97F4A7C15ull + 0x5A0A), callsigns_(std::move(callsigns)) {}

PathEpisode SoakSchedule::DrawPath() {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    PathEpisode p;
    // Mostly a channel a link can work on, a third of the time anything down to 0 dB.
    p.snr_db = std::round((unit(rng_) < 0.65 ? 8.0 + 22.0 * unit(rng_) : 30.0 * unit(rng_)) * 10.0) / 10.0;
    p.fading = kFadings[std::uniform_int_distribution<std::size_t>(0, kFadings.size() - 1)(rng_)];
    p.offset_hz = std::round((unit(rng_) * 80.0 - 40.0) * 10.0) / 10.0;
    p.clock_ppm = std::round(unit(rng_) * 600.0 - 300.0);
    return p;
}

std::string SoakSchedule::DrawFileName(std::uint64_t step) {
    std::uniform_int_distribution<std::size_t> pick(0, kHostileNames.size() - 1);
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
    if (u < 0.4) return "file-" + std::to_string(step) + ".bin";
    if (u < 0.5) return std::string(70 + step % 50, static_cast<char>('a' + step % 26)) + ".long";
    return kHostileNames[pick(rng_)];
}

std::string SoakSchedule::DrawChatLine() {
    std::uniform_int_distribution<int> length(1, static_cast<int>(link::kMaxChatInput) + 20);
    const int n = length(rng_);
    std::string line;
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
    for (int i = 0; i < n; ++i) {
        if (u < 0.5) {
            line.push_back(static_cast<char>(std::uniform_int_distribution<int>(0x20, 0x7e)(rng_)));
        } else {
            // Every byte but the line ends: control characters, DEL, 0x80..0xFF.
            int b = std::uniform_int_distribution<int>(1, 255)(rng_);
            if (b == '\r' || b == '\n') b = ' ';
            line.push_back(static_cast<char>(b));
        }
    }
    return line;
}

std::uint32_t SoakSchedule::DrawFileSize() {
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
    if (u < 0.08) return std::uniform_int_distribution<std::uint32_t>(0, 2)(rng_);
    if (u < 0.45) return std::uniform_int_distribution<std::uint32_t>(3, 3000)(rng_);
    if (u < 0.85) return std::uniform_int_distribution<std::uint32_t>(3000, 40000)(rng_);
    if (u < 0.95) return std::uniform_int_distribution<std::uint32_t>(40000, 120000)(rng_);
    // Up to and past the largest transfer.
    return std::uniform_int_distribution<std::uint32_t>(link::kMaxTransferBytes - 3000, link::kMaxTransferBytes + 20000)(rng_);
}

Reply SoakSchedule::DrawReply() {
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
    return u < 0.75 ? Reply::Yes : u < 0.9 ? Reply::No : Reply::Ignore;
}

SoakAction SoakSchedule::Next(std::uint64_t now_ms, const WorldSnapshot& world) {
    SoakAction a;
    a.step = ++step_;
    // Every run opens the way an operator's session does: a call on the quiet channel of the
    // start, then a small file, so that even a short run moves one.
    if (a.step == 1) {
        a.at_ms = 5000;
        a.kind = ActionKind::Connect;
        a.text = callsigns_[1];
        return a;
    }
    if (a.step == 2) {
        a.at_ms = std::max<std::uint64_t>(now_ms + 1000, 60000);
        a.kind = ActionKind::SendFile;
        a.text = "opening.txt";
        a.size = 1000;
        return a;
    }
    // Operators act about once a minute on average.
    const double gap_s = std::exponential_distribution<double>(1.0 / 50.0)(rng_);
    a.at_ms = now_ms + 1000 + static_cast<std::uint64_t>(std::min(gap_s, 600.0) * 1000.0);
    a.station = std::uniform_int_distribution<int>(0, 1)(rng_);
    const int other = 1 - a.station;
    const link::LinkState s = world.state[static_cast<std::size_t>(a.station)];
    const bool idle = s == link::LinkState::Idle;
    const bool connected = s == link::LinkState::Connected;
    const bool transferring = s == link::LinkState::SendingFile || s == link::LinkState::ReceivingFile;

    // Weights by what the operator sees: an idle station calls, a linked one chats and sends
    // files, a transfer is mostly left to finish.  The channel and the station's fate follow
    // their own weights whatever the link does.
    struct Choice {
        ActionKind kind;
        double weight;
    };
    const std::array<Choice, 10> choices{{
        {ActionKind::Connect, idle ? 30.0 : 1.5},
        {ActionKind::Disconnect, connected ? 3.0 : transferring ? 0.7 : 1.0},
        {ActionKind::Chat, connected || transferring ? 18.0 : 1.0},
        {ActionKind::SendFile, connected ? 22.0 : 0.5},
        {ActionKind::StopTransfer, transferring ? 2.0 : 0.3},
        {ActionKind::Answers, 3.0},
        {ActionKind::Channel, 7.0},
        {ActionKind::Deaf, 1.2},
        {ActionKind::Vanish, world.present[static_cast<std::size_t>(a.station)] ? 0.5 : 0.0},
        {ActionKind::Intruder, 2.5},
    }};
    double total = 0.0;
    for (const Choice& c : choices) total += c.weight;
    double pick = std::uniform_real_distribution<double>(0.0, total)(rng_);
    a.kind = choices.back().kind;
    for (const Choice& c : choices) {
        if (pick < c.weight) {
            a.kind = c.kind;
            break;
        }
        pick -= c.weight;
    }

    switch (a.kind) {
        case ActionKind::Connect:
            a.text = std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < 0.1
                         ? std::string("NOBODY")
                         : callsigns_[static_cast<std::size_t>(other)];
            break;
        case ActionKind::Chat: a.text = DrawChatLine(); break;
        case ActionKind::SendFile:
            a.text = DrawFileName(a.step);
            a.size = DrawFileSize();
            break;
        case ActionKind::Answers:
            a.calls = DrawReply();
            a.offers = DrawReply();
            break;
        case ActionKind::Channel:
            a.paths = {DrawPath(), DrawPath()};
            break;
        case ActionKind::Deaf: a.span_ms = std::uniform_int_distribution<std::uint32_t>(20000, 360000)(rng_); break;
        case ActionKind::Vanish: a.span_ms = std::uniform_int_distribution<std::uint32_t>(30000, 1200000)(rng_); break;
        case ActionKind::Intruder:
            a.station = kIntruder;
            a.text = "NOBODY";
            break;
        case ActionKind::Disconnect:
        case ActionKind::StopTransfer: break;
    }
    return a;
}

}  // namespace kavra::soak
