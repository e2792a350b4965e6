#include "link/simulation.h"

#include <algorithm>

#include "modem/common/mode_table.h"

namespace kavra::link {

// ---- MemoryFileSystem

bool MemoryFileSystem::ReadHead(const std::string& path, std::size_t max_bytes, std::vector<std::uint8_t>& head,
                                std::uint64_t& size) {
    if (auto p = patterned_files.find(path); p != patterned_files.end()) {
        size = p->second;
        head.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, max_bytes)));
        for (std::size_t i = 0; i < head.size(); ++i) head[i] = static_cast<std::uint8_t>(i * 7 + 3);
        return true;
    }
    const auto f = files.find(path);
    if (f == files.end()) return false;
    size = f->second.size();
    head.assign(f->second.begin(), f->second.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(f->second.size(), max_bytes)));
    return true;
}

bool MemoryFileSystem::CreateEmpty(const std::string& path) {
    if (fail_create) return false;
    files[path].clear();
    return true;
}

bool MemoryFileSystem::WriteAt(const std::string& path, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    const auto f = files.find(path);
    if (f == files.end()) return false;
    if (writes_before_failure >= 0 && writes >= writes_before_failure) return false;
    ++writes;
    auto& data = f->second;
    if (data.size() < offset + bytes.size()) data.resize(static_cast<std::size_t>(offset + bytes.size()));
    std::copy(bytes.begin(), bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}

bool MemoryFileSystem::ReadText(const std::string& path, std::string& text) {
    const auto f = files.find(path);
    if (f == files.end()) return false;
    text.assign(f->second.begin(), f->second.end());
    return true;
}

bool MemoryFileSystem::WriteText(const std::string& path, std::string_view text) {
    files[path].assign(text.begin(), text.end());
    return true;
}

bool MemoryFileSystem::CreateFolder(const std::string& path) {
    folders.insert(path);
    return true;
}

// ---- RecordingUi

void RecordingUi::AppendLog(LogKind kind, std::string_view text) {
    log.push_back({now_, static_cast<int>(kind), std::string(text)});
}
void RecordingUi::AppendChat(ChatKind kind, std::string_view text) {
    chat.push_back({now_, static_cast<int>(kind), std::string(text)});
}
void RecordingUi::SetLabel(StatusLabel label, std::string_view text) { labels[static_cast<std::size_t>(label)] = text; }
void RecordingUi::SetCommandEnabled(Command command, bool enabled) { commands[static_cast<std::size_t>(command)] = enabled; }
void RecordingUi::SetTransmitProgress(int percent) {
    transmit_progress = percent;
    max_transmit_progress = std::max(max_transmit_progress, percent);
}
void RecordingUi::ShowQuestion(std::string_view caption, std::string_view text, std::string_view cancel_caption) {
    question_shown = true;
    question_caption = caption;
    question_text = text;
    question_cancel = cancel_caption;
}
std::optional<std::string> RecordingUi::AskCallsign(const std::vector<std::string>& callsigns) {
    offered_callsigns = callsigns;
    auto answer = next_callsign;
    next_callsign.reset();
    return answer;
}
std::optional<std::string> RecordingUi::ChooseFile() {
    auto answer = next_file;
    next_file.reset();
    return answer;
}
int RecordingUi::CountLog(std::string_view text) const {
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const Line& l) { return l.text.find(text) != std::string::npos; }));
}
std::optional<std::uint64_t> RecordingUi::FirstLogTime(std::string_view text) const {
    for (const Line& l : log)
        if (l.text.find(text) != std::string::npos) return l.time_ms;
    return std::nullopt;
}

int BurstRecord::Count(ControlCode code) const {
    return static_cast<int>(std::count(codes.begin(), codes.end(), static_cast<std::uint8_t>(code)));
}

// ---- SimStation

SimStation::SimStation(TwoStationSim& sim, int index, const LinkSettings& settings)
    : ui(sim.now_), sim_(sim), index_(index), modem_type_(settings.modem_type), settings_(settings) {
    Restart();
}

void SimStation::Restart() {
    session_.reset();
    session_ = std::make_unique<LinkSession>(LinkPorts{clock_, ui, sender_, receiver_, files}, settings_);
    session_->SetConnectAvailable(true);
    keyed_ = false;
    tx_end_ms_ = 0;
    receiving_ = false;
    snr_ = kSnrNone;
    queue_.clear();
    tx_wake_ms_ = 0;
    sleep_ms_ = 0;
    question_seen_ = Question::None;
}

std::uint32_t SimStation::StationClock::NowMs() { return s_.sim_.Tick(); }

std::uint32_t SimStation::Sender::StartBurst(std::span<const std::uint8_t> bytes, int data_mode) {
    return s_.sim_.StartBurst(s_.index_, bytes, data_mode);
}

bool SimStation::Transmitting() const { return sim_.now_ < tx_end_ms_; }

void SimStation::Connect(const std::string& callsign) {
    ui.next_callsign = callsign;
    session_->Connect1Click();
}

void SimStation::SendFile(const std::string& path) {
    ui.next_file = path;
    session_->SendFileClick();
}

// The receive pipeline's end: a block decoded from the air is checked, filtered and queued.
void SimStation::Deliver(const LinkBlockBytes& bytes) {
    ReceivedBlock block;
    if (ParseLinkBlock(bytes, block) != ParseResult::Ok) return;
    if (!AdmitsBlock(session_->State(), block.code)) {
        ++blocks_dropped_by_filter;
        return;
    }
    queue_.push_back(block);
}

void SimStation::Step() {
    const std::uint64_t now = sim_.now_;
    // The pump: one block per millisecond, none while the request dialog is open.
    if (!queue_.empty() && session_->ReadyForBlock()) {
        const ReceivedBlock block = queue_.front();
        queue_.pop_front();
        session_->HandleReceivedBlock(block);
    }
    // The request dialog: the scripted user answers after a delay; the countdown ticks each second.
    const Question q = session_->OpenQuestion();
    if (q != question_seen_) {
        question_seen_ = q;
        question_opened_ms_ = now;
        question_ticks_ = 0;
    }
    if (q != Question::None) {
        const AnswerPolicy& policy = q == Question::Call ? call_answer : q == Question::FileOffer ? offer_answer : send_answer;
        if (policy.answer != Answer::Never && now - question_opened_ms_ >= policy.delay_ms) {
            session_->AnswerQuestion(policy.answer == Answer::Accept);
        } else if (now - question_opened_ms_ >= 1000u * static_cast<std::uint64_t>(question_ticks_ + 1)) {
            ++question_ticks_;
            session_->QuestionTimerTick();
        }
        question_seen_ = session_->OpenQuestion();
    }
    if ((now + status_phase_ms) % 200 == 0) session_->StatusRefresh();
    if (now >= tx_wake_ms_) {
        sleep_ms_ = 0;
        session_->SchedulerPass();
        tx_wake_ms_ = now + 1 + sleep_ms_;
    }
}

// ---- TwoStationSim

TwoStationSim::TwoStationSim(const LinkSettings& a, const LinkSettings& b, std::uint64_t seed, std::uint32_t start_tick)
    : start_tick_(start_tick), rng_(seed) {
    stations_[0] = std::make_unique<SimStation>(*this, 0, a);
    stations_[1] = std::make_unique<SimStation>(*this, 1, b);
    stations_[1]->status_phase_ms = 100;
}

std::uint32_t TwoStationSim::StartBurst(int from, std::span<const std::uint8_t> bytes, int mode) {
    SimStation& sender = station(from);
    const int to = 1 - from;
    const int type = sender.modem_type_;
    const int length = static_cast<int>(bytes.size());
    const auto duration = static_cast<std::uint32_t>(modem::TransmissionMillis(type, mode, length));
    const auto preamble = static_cast<std::uint64_t>(modem::PreambleSymbols(mode)) * 1000 / static_cast<std::uint64_t>(modem::SymbolRate(type));

    BurstRecord record;
    record.from = from;
    record.start_ms = now_;
    record.data_start_ms = now_ + preamble;
    record.end_ms = now_ + duration;
    record.mode = mode;
    for (std::size_t i = 0; i + kLinkBlockSize <= bytes.size(); i += kLinkBlockSize)
        record.codes.push_back(bytes[i] & 0x80 ? bytes[i + 1] : 0);

    // Whoever transmits hears nothing: the far station's burst in flight is lost, and so is this
    // one if the far station is on the air now.
    Interrupt(from);
    record.lost = station(to).Transmitting() || deaf_[static_cast<std::size_t>(to)] || type != station(to).modem_type_;
    sender.tx_end_ms_ = record.end_ms;
    bursts_.push_back(record);

    if (!record.lost) {
        InFlight f;
        f.record = bursts_.size() - 1;
        f.to = to;
        f.modem_type = type;
        f.bytes.assign(bytes.begin(), bytes.end());
        const auto per_block = static_cast<std::size_t>(modem::DataBytesPerBlock(mode));
        const auto rate = static_cast<std::uint64_t>(modem::SymbolRate(type));
        for (std::size_t k = 0; k < f.bytes.size() / kLinkBlockSize; ++k) {
            const std::size_t last_byte = k * kLinkBlockSize + kLinkBlockSize - 1;
            const std::uint64_t symbols = static_cast<std::uint64_t>(modem::PreambleSymbols(mode)) +
                                          (last_byte / per_block + 1) * static_cast<std::uint64_t>(modem::BlockSymbols(mode));
            f.ready_ms.push_back(now_ + symbols * 1000 / rate);
        }
        air_.push_back(std::move(f));
    }
    return duration;
}

void TwoStationSim::Interrupt(int to) {
    for (InFlight& f : air_) {
        if (f.to != to) continue;
        bursts_[f.record].lost = true;
        if (f.flag_up) {
            SimStation& rx = station(to);
            rx.receiving_ = false;
            rx.snr_ = kSnrNone;
        }
        f.delivered = f.ready_ms.size();
        f.flag_up = false;
    }
    std::erase_if(air_, [to](const InFlight& f) { return f.to == to; });
}

void TwoStationSim::AdvanceAir() {
    if (air_.empty()) return;
    bool ended = false;
    for (InFlight& f : air_) {
        const BurstRecord& rec = bursts_[f.record];
        SimStation& rx = station(f.to);
        const ChannelConditions& ch = channel_[static_cast<std::size_t>(f.to)];
        if (!f.flag_up && now_ >= rec.data_start_ms && now_ < rec.end_ms) {
            f.flag_up = true;
            rx.receiving_ = true;
            rx.rx_mode_ = rec.mode;
            rx.snr_ = ch.snr.mean;
        }
        while (f.delivered < f.ready_ms.size() && f.ready_ms[f.delivered] <= now_) {
            const bool lost = ch.block_loss > 0 && std::uniform_real_distribution<double>(0, 1)(rng_) < ch.block_loss;
            if (!lost) {
                LinkBlockBytes block;
                std::copy_n(f.bytes.begin() + static_cast<std::ptrdiff_t>(f.delivered * kLinkBlockSize), kLinkBlockSize, block.begin());
                rx.Deliver(block);
            }
            ++f.delivered;
        }
        if (now_ >= rec.end_ms) {
            rx.receiving_ = false;
            rx.snr_ = kSnrNone;  // the pipeline's frame end
            rx.last_frame_ = ch.snr;
            f.flag_up = false;
            ended = true;
        }
    }
    if (ended) std::erase_if(air_, [this](const InFlight& f) { return now_ >= bursts_[f.record].end_ms; });
}

void TwoStationSim::SetGone(int station, bool gone) {
    const auto k = static_cast<std::size_t>(station);
    if (gone == gone_[k]) return;
    gone_[k] = gone;
    deaf_[k] = gone;
    if (!gone) {
        stations_[k]->Restart();
        return;
    }
    Interrupt(station);
    // Its own burst stops where it is.
    for (InFlight& f : air_) {
        if (bursts_[f.record].from != station) continue;
        bursts_[f.record].lost = true;
        SimStation& rx = this->station(f.to);
        if (f.flag_up) {
            rx.receiving_ = false;
            rx.snr_ = kSnrNone;
        }
    }
    std::erase_if(air_, [this, station](const InFlight& f) { return bursts_[f.record].from == station; });
    stations_[k]->tx_end_ms_ = now_;
    stations_[k]->keyed_ = false;
}

void TwoStationSim::Step() {
    AdvanceAir();
    if (!gone_[0]) stations_[0]->Step();
    if (!gone_[1]) stations_[1]->Step();
    ++now_;
}

void TwoStationSim::Run(std::uint64_t ms) {
    for (std::uint64_t i = 0; i < ms; ++i) Step();
}

std::vector<const BurstRecord*> TwoStationSim::BurstsFrom(int station) const {
    std::vector<const BurstRecord*> out;
    for (const BurstRecord& b : bursts_)
        if (b.from == station) out.push_back(&b);
    return out;
}

}  // namespace kavra::link
