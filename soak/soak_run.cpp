#include "soak/soak_run.h"

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <random>

#include "soak/air_world.h"
#include "soak/block_world.h"
#include "soak/soak_schedule.h"

namespace kavra::soak {

using link::LinkState;

namespace {

constexpr const auto& kCallsigns = kSoakCallsigns;
constexpr std::uint64_t kCheckEveryMs = 10 * 60 * 1000;
constexpr std::uint32_t kAnswerAfterMs = 2000;  // the operator reads the question first
constexpr std::uint32_t kKeyingMarginMs = 2000;

double ResidentMib() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

bool StartsWith(const std::string& s, std::string_view prefix) { return s.rfind(prefix, 0) == 0; }
bool Contains(const std::string& s, std::string_view part) { return s.find(part) != std::string::npos; }

// The longest a link may take to end once the far station is gone: an accepted file offer
// repeated on the transfer poll interval, then the keep-alive turns on the idle one, plus a
// burst and a question on the way.
std::uint64_t LinkEndBoundMs(int modem_type) {
    const link::LinkTimingSet t = link::TimingSetFor(modem_type);
    return 11ull * t.transfer_poll_interval_ms + 6ull * t.idle_poll_interval_ms + 120000ull;
}

// A file a station offers: what the far side must end up with.
struct Outgoing {
    std::uint64_t step = 0;
    std::string path;                    // as the station opened it (single-byte text)
    std::uint64_t size = 0;              // as offered
    std::vector<std::uint8_t> expected;  // the first kMaxTransferBytes bytes
    bool success_seen = false;
};

struct Incoming {
    std::uint64_t step = 0;   // the offer's step
    int station = 0;
    std::string path;         // as the receiving station stored it
    std::shared_ptr<Outgoing> source;
    bool success_seen = false;
};

// A station that must be idle by `deadline` (once is enough).
struct LinkDeadline {
    int station;
    std::uint64_t deadline;
    std::string why;
};

class SoakRunner {
public:
    SoakRunner(const SoakOptions& o, SoakWorld& world)
        : o_(o), world_(world), schedule_(o.seed, {kCallsigns[0], kCallsigns[1]}), bound_ms_(LinkEndBoundMs(o.modem_type)) {
        report_.seed = o.seed;
        report_.modem_type = o.modem_type;
        end_ms_ = static_cast<std::uint64_t>(o.hours * 3600000.0);
        quiet_ms_ = end_ms_ > bound_ms_ + 60000 ? end_ms_ - bound_ms_ - 60000 : 0;
        content_rng_.seed(o.seed ^ 0xF11E5ull);
        stations_ = world.StationCount();
    }

    SoakReport Run();

private:
    bool EveryMs();
    void Execute(const SoakAction& a);
    void SendFile(const SoakAction& a);
    void GoQuiet();
    void OnLine(int i, const std::string& t);
    void AnswerQuestions(int i);
    void CheckKeying(int i);
    void CountBursts();
    void CheckDeadlines();
    void CheckFolders();
    void SampleMemory();
    void Compare(const Incoming& in, std::string_view what);
    void Violation(const std::string& what);
    void Log(const std::string& line) {
        if (o_.log) o_.log(line);
    }
    WorldSnapshot Snapshot() {
        WorldSnapshot w;
        for (int i = 0; i < 2; ++i) {
            const auto k = static_cast<std::size_t>(i);
            w.present[k] = present_[k];
            w.state[k] = present_[k] ? world_.Session(i).State() : LinkState::Idle;
        }
        return w;
    }
    bool Present(int i) const { return present_[static_cast<std::size_t>(i)]; }
    // Whether a lost link is explained by a station that was gone or deaf within the bound.
    bool FarGone(int i, std::uint64_t now) const {
        for (const int s : {i, 1 - i}) {
            const auto k = static_cast<std::size_t>(s);
            if (!present_[k] || deaf_until_[k] != 0 || (gone_until_[k] != 0 && now < gone_until_[k] + bound_ms_)) return true;
        }
        return false;
    }

    const SoakOptions& o_;
    SoakWorld& world_;
    SoakSchedule schedule_;
    std::uint64_t bound_ms_;
    int stations_ = 2;
    std::uint64_t end_ms_ = 0;
    std::uint64_t quiet_ms_ = 0;
    bool quiet_ = false;
    bool stop_ = false;
    SoakReport report_;
    std::mt19937_64 content_rng_;
    SoakAction next_;
    std::uint64_t last_step_ = 0;
    std::uint64_t next_check_ms_ = kCheckEveryMs;

    std::array<bool, 3> present_{true, true, true};
    std::array<bool, 2> linked_{};  // a link was up (the station logged "Connected to")
    std::array<std::uint64_t, 3> back_at_{};      // a vanished station restarts then
    std::array<std::uint64_t, 3> deaf_until_{};
    std::array<std::uint64_t, 3> gone_until_{};   // the end of the station's last absence or deafness
    std::array<Reply, 2> call_reply_{Reply::Yes, Reply::Yes};
    std::array<Reply, 2> offer_reply_{Reply::Yes, Reply::Yes};
    std::array<std::optional<std::uint64_t>, 2> question_since_{};
    std::array<std::optional<std::uint64_t>, 3> keyed_since_{};
    std::array<bool, 3> keyed_reported_{};
    std::array<bool, 2> on_air_{};
    std::array<std::shared_ptr<Outgoing>, 2> outgoing_{};  // the last file offered
    std::array<std::shared_ptr<Outgoing>, 2> sending_{};   // the file of the running transfer
    std::array<Incoming, 2> receiving_{};
    std::vector<LinkDeadline> deadlines_;
    bool memory_baseline_ = false;
};

SoakReport SoakRunner::Run() {
    const auto wall_start = std::chrono::steady_clock::now();
    world_.SetLogSink([this](int i, const std::string& text) { OnLine(i, text); });
    next_ = schedule_.Next(0, Snapshot());
    report_.rss_start_mib = report_.rss_max_mib = ResidentMib();
    world_.RunUntil([this] { return EveryMs(); }, end_ms_ + 1);
    const std::uint64_t now = world_.NowMs();
    if (!stop_) {
        CheckDeadlines();
        for (int i = 0; i < 2; ++i)
            if (Present(i) && world_.Session(i).State() != LinkState::Idle)
                Violation(std::string(kCallsigns[static_cast<std::size_t>(i)]) + " is still " +
                          std::string(link::LinkStateName(world_.Session(i).State())) + " at the end of the quiet time");
    }
    CheckFolders();
    SampleMemory();
    report_.rss_end_mib = ResidentMib();
    report_.station_ms = now;
    report_.steps = last_step_;
    report_.wall_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    return report_;
}

bool SoakRunner::EveryMs() {
    const std::uint64_t now = world_.NowMs();
    if (now >= end_ms_ || stop_) return true;
    if (!quiet_ && now >= quiet_ms_) GoQuiet();
    if (!quiet_ && now >= next_.at_ms) {
        Execute(next_);
        last_step_ = next_.step;
        if (o_.stop_after_step != 0 && next_.step >= o_.stop_after_step) {
            stop_ = true;
            return true;
        }
        next_ = schedule_.Next(now, Snapshot());
    }
    for (int i = 0; i < stations_; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (!present_[k] && now >= back_at_[k]) {
            world_.Restart(i);
            present_[k] = true;
            gone_until_[k] = now;
            Log("[" + std::to_string(now / 1000) + " s] " + kCallsigns[k] + " is back (a fresh start)");
        }
        if (deaf_until_[k] != 0 && now >= deaf_until_[k]) {
            world_.SetDeaf(i, false);
            deaf_until_[k] = 0;
            gone_until_[k] = now;
        }
        if (present_[k]) CheckKeying(i);
    }
    for (int i = 0; i < 2; ++i)
        if (Present(i)) AnswerQuestions(i);
    CountBursts();
    CheckDeadlines();
    if (now >= next_check_ms_) {
        next_check_ms_ += kCheckEveryMs;
        CheckFolders();
        SampleMemory();
        Log("[" + std::to_string(now / 1000) + " s] step " + std::to_string(last_step_) + ", files delivered " +
            std::to_string(report_.delivered_whole) + ", links " + std::to_string(report_.links_up) + ", violations " +
            std::to_string(report_.violations.size()));
    }
    return false;
}

void SoakRunner::Execute(const SoakAction& a) {
    Log(DescribeAction(a));
    const int i = a.station;
    const auto k = static_cast<std::size_t>(i);
    const std::uint64_t now = world_.NowMs();
    if (i >= stations_ || !present_[k]) return;  // nobody at that station now
    switch (a.kind) {
        case ActionKind::Connect:
            if (world_.Connect(i, a.text)) ++report_.calls;
            break;
        case ActionKind::Disconnect: world_.Disconnect(i); break;
        case ActionKind::Chat: world_.Say(i, a.text); break;
        case ActionKind::SendFile: SendFile(a); break;
        case ActionKind::StopTransfer: world_.StopTransfer(i); break;
        case ActionKind::Answers:
            call_reply_[k] = a.calls;
            offer_reply_[k] = a.offers;
            break;
        case ActionKind::Channel:
            world_.SetPath(kStationA, kStationB, a.paths[0]);
            world_.SetPath(kStationB, kStationA, a.paths[1]);
            break;
        case ActionKind::Deaf:
            world_.SetDeaf(i, true);
            deaf_until_[k] = now + a.span_ms;
            break;
        case ActionKind::Vanish:
            world_.Vanish(i);
            present_[k] = false;
            if (i < 2) linked_[k] = false;
            back_at_[k] = now + a.span_ms;
            keyed_since_[k].reset();
            if (i < 2) question_since_[k].reset();
            if (i < 2) deadlines_.push_back({1 - i, now + bound_ms_, std::string(kCallsigns[k]) + " vanished"});
            break;
        case ActionKind::Intruder: world_.Connect(i, a.text); break;
    }
}

void SoakRunner::SendFile(const SoakAction& a) {
    const int i = a.station;
    if (!world_.Session(i).CommandEnabled(link::Command::SendFile)) return;
    auto out = std::make_shared<Outgoing>();
    out->step = a.step;
    out->path = "outbox/" + a.text;
    out->size = a.size;
    std::vector<std::uint8_t> bytes(a.size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(content_rng_());
    const bool offered = world_.SendFile(i, out->path, bytes);
    bytes.resize(std::min<std::size_t>(bytes.size(), link::kMaxTransferBytes));
    out->expected = std::move(bytes);
    if (offered) {
        outgoing_[static_cast<std::size_t>(i)] = out;
        ++report_.offers;
    }
}

void SoakRunner::GoQuiet() {
    quiet_ = true;
    const std::uint64_t now = world_.NowMs();
    Log("[" + std::to_string(now / 1000) + " s] quiet: both operators disconnect and leave");
    for (int i = 0; i < 2; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (present_[k]) world_.Disconnect(i);
        call_reply_[k] = Reply::No;
        offer_reply_[k] = Reply::No;
        deadlines_.push_back({i, now + bound_ms_, "the schedule went quiet"});
    }
}

void SoakRunner::AnswerQuestions(int i) {
    const auto k = static_cast<std::size_t>(i);
    const link::Question q = world_.Session(i).OpenQuestion();
    if (q != link::Question::Call && q != link::Question::FileOffer) {
        question_since_[k].reset();
        return;
    }
    const std::uint64_t now = world_.NowMs();
    if (!question_since_[k]) question_since_[k] = now;
    if (now - *question_since_[k] < kAnswerAfterMs) return;
    const Reply r = q == link::Question::Call ? call_reply_[k] : offer_reply_[k];
    if (r != Reply::Ignore) world_.Answer(i, r == Reply::Yes);
}

void SoakRunner::CheckKeying(int i) {
    const auto k = static_cast<std::size_t>(i);
    const std::uint64_t now = world_.NowMs();
    if (!world_.Keyed(i)) {
        keyed_since_[k].reset();
        keyed_reported_[k] = false;
        return;
    }
    if (!keyed_since_[k]) keyed_since_[k] = now;
    const std::uint32_t burst = world_.Session(i).TxDurationMs();
    const std::uint64_t allowed = std::uint64_t{burst} + station::kPlaybackOverrunMs + kKeyingMarginMs;
    if (!keyed_reported_[k] && now - *keyed_since_[k] > allowed) {
        keyed_reported_[k] = true;
        Violation(std::string(kCallsigns[k]) + " keyed for " + std::to_string(now - *keyed_since_[k]) +
                  " ms, its burst lasts " + std::to_string(burst) + " ms");
    }
}

// A burst of A or B that starts while the other is on the air: a turn that may be lost.
void SoakRunner::CountBursts() {
    std::array<bool, 2> now_on{};
    for (int i = 0; i < 2; ++i) now_on[static_cast<std::size_t>(i)] = Present(i) && world_.OnAir(i);
    for (std::size_t k = 0; k < 2; ++k) {
        if (now_on[k] && !on_air_[k]) {
            ++report_.bursts;
            if (on_air_[1 - k]) ++report_.bursts_on_far_air;
        }
    }
    on_air_ = now_on;
}

void SoakRunner::CheckDeadlines() {
    const std::uint64_t now = world_.NowMs();
    for (auto it = deadlines_.begin(); it != deadlines_.end();) {
        const bool idle = !Present(it->station) || world_.Session(it->station).State() == LinkState::Idle;
        if (idle) {
            it = deadlines_.erase(it);
        } else if (now > it->deadline) {
            Violation(std::string(kCallsigns[static_cast<std::size_t>(it->station)]) + " still " +
                      std::string(link::LinkStateName(world_.Session(it->station).State())) + " " +
                      std::to_string(bound_ms_ / 1000) + " s after " + it->why);
            it = deadlines_.erase(it);
        } else {
            ++it;
        }
    }
}

void SoakRunner::CheckFolders() {
    for (const std::string& stray : world_.StrayFiles()) Violation("written outside RECEIVED: " + stray);
}

void SoakRunner::SampleMemory() {
    const double mib = ResidentMib();
    report_.rss_max_mib = std::max(report_.rss_max_mib, mib);
    // Buffers, channel filters and file contents settle within the first hour.
    if (!memory_baseline_ && world_.NowMs() >= 3600000) {
        memory_baseline_ = true;
        report_.rss_start_mib = mib;
    }
    if (memory_baseline_ && mib > report_.rss_start_mib + 64.0)
        Violation("resident memory grew from " + std::to_string(report_.rss_start_mib) + " to " + std::to_string(mib) + " MiB");
}

void SoakRunner::OnLine(int i, const std::string& t) {
    if (i >= 2) return;
    const auto k = static_cast<std::size_t>(i);
    const std::uint64_t now = world_.NowMs();
    if (o_.transcript) Log("  " + std::to_string(now) + " " + kCallsigns[k] + " | " + t);
    if (StartsWith(t, "Connected to '")) {
        linked_[k] = true;
        if (i == kStationA) ++report_.links_up;
    } else if (StartsWith(t, "Disconnecting from '") || StartsWith(t, "Disconnected from '")) {
        if (StartsWith(t, "Disconnecting")) ++report_.disconnects;
        linked_[k] = false;
    } else if (Contains(t, "not answer, lost connection")) {
        if (!linked_[k]) ++report_.calls_unanswered;
        else if (FarGone(i, now)) ++report_.lost_far_gone;
        else ++report_.lost_channel;
        linked_[k] = false;
        Log("[" + std::to_string(now / 1000) + " s] " + kCallsigns[k] + ": " + t);
    } else if (StartsWith(t, "Receiving file '")) {
        Incoming in;
        in.station = i;
        in.path = world_.Session(i).ReceivePath();
        in.source = outgoing_[1 - k];
        in.step = in.source ? in.source->step : 0;
        receiving_[k] = std::move(in);
    } else if (StartsWith(t, "Sending file '")) {
        ++report_.transfers;
        sending_[k] = outgoing_[k];
        // The same name and size offered again while the far station still waits for the data
        // of the first offer: it takes the new one as a repeat and stores this file's pieces.
        Incoming& far = receiving_[1 - k];
        if (sending_[k] && far.source && far.source != sending_[k] && !far.success_seen &&
            far.source->path == sending_[k]->path && far.source->size == sending_[k]->size) {
            far.source = sending_[k];
            far.step = sending_[k]->step;
        }
    } else if (Contains(t, "sended succesfully")) {
        const Incoming& far = receiving_[1 - k];
        if (sending_[k] && !sending_[k]->success_seen) {
            sending_[k]->success_seen = true;
            ++report_.sent_ok;
        }
        if (!sending_[k] || far.source != sending_[k])
            Violation(std::string(kCallsigns[k]) + " reports a file sent that " + kCallsigns[1 - k] + " never accepted: " + t);
        else
            Compare(far, "sent");
    } else if (Contains(t, "received succesfully")) {
        Incoming& in = receiving_[k];
        if (!in.source) {
            Violation(std::string(kCallsigns[k]) + " reports a file received that was never offered: " + t);
            return;
        }
        if (!in.success_seen) {
            in.success_seen = true;
            ++report_.delivered_whole;
            report_.bytes_delivered += in.source->expected.size();
        }
        Compare(in, "received");
    } else if (Contains(t, "is NOT completed")) {
        ++report_.not_completed;
    } else if (Contains(t, " was cut: ") && Contains(t, "were sent")) {
        ++report_.cut;
    }
}

void SoakRunner::Compare(const Incoming& in, std::string_view what) {
    ++report_.compares;
    std::vector<std::uint8_t> got = world_.ReadFile(in.station, in.path);
    if (o_.before_compare) o_.before_compare(got);
    const std::vector<std::uint8_t>& want = in.source->expected;
    if (got == want) return;
    std::size_t first = 0;
    while (first < got.size() && first < want.size() && got[first] == want[first]) ++first;
    Violation("file reported " + std::string(what) + " successfully differs: " + world_.Where(in.station, in.path) +
              " has " + std::to_string(got.size()) + " bytes, " + std::to_string(want.size()) +
              " were sent (offered at step " + std::to_string(in.step) + "), first difference at byte " + std::to_string(first));
}

void SoakRunner::Violation(const std::string& what) {
    const std::string line = "VIOLATION seed " + std::to_string(o_.seed) + " type " + std::to_string(o_.modem_type) +
                             (o_.block_level ? " (block level)" : "") + ", after step " + std::to_string(last_step_) +
                             " at " + std::to_string(world_.NowMs() / 1000) + " s: " + what;
    report_.violations.push_back(line);
    Log(line);
}

}  // namespace

std::string SoakReport::Summary() const {
    char s[1536];
    const double hours = static_cast<double>(station_ms) / 3600000.0;
    std::snprintf(
        s, sizeof s,
        "seed %llu, modem type %d: %.2f h of station time in %.0f s (%.0fx real time), %llu steps\n"
        "links: %d calls (%d never answered), %d links up, %d ended by Disconnect, lost %d with a station gone or deaf, %d on the channel\n"
        "files: %d offered, %d transfers, %d reported sent, %d delivered whole (%llu bytes), %d not completed, %d cut at 241664 bytes\n"
        "turns: %llu bursts, %llu started while the other station was on the air (%.1f %%)\n"
        "memory: %.1f MiB after the first hour (or at the start), %.1f at the end, %.1f at most\n"
        "violations: %zu\n",
        static_cast<unsigned long long>(seed), modem_type, hours, wall_seconds,
        wall_seconds > 0 ? static_cast<double>(station_ms) / 1000.0 / wall_seconds : 0.0,
        static_cast<unsigned long long>(steps), calls, calls_unanswered, links_up, disconnects, lost_far_gone, lost_channel, offers, transfers,
        sent_ok, delivered_whole, static_cast<unsigned long long>(bytes_delivered), not_completed, cut,
        static_cast<unsigned long long>(bursts), static_cast<unsigned long long>(bursts_on_far_air),
        bursts ? 100.0 * static_cast<double>(bursts_on_far_air) / static_cast<double>(bursts) : 0.0, rss_start_mib,
        rss_end_mib, rss_max_mib, violations.size());
    std::string out = s;
    for (const std::string& v : violations) out += v + "\n";
    return out;
}

SoakReport RunSoak(const SoakOptions& options) {
    std::unique_ptr<SoakWorld> world;
    if (options.block_level)
        world = std::make_unique<BlockWorld>(options.seed, options.modem_type);
    else
        world = std::make_unique<AirWorld>(options.seed, options.modem_type, options.folder);
    return SoakRunner(options, *world).Run();
}

}  // namespace kavra::soak
