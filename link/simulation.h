// Two stations on one simulated channel, at the block level, on virtual time, in one thread.
//
// Each virtual millisecond the air is advanced (activity flags, decoded blocks reaching the far
// receive pipeline), then each station runs its steps in the order its threads would: the pump
// (one received block to the handler), the request dialog, the 200 ms status refresh and the
// scheduler pass (unless its thread sleeps).  A burst's air time comes from the mode table:
// preamble plus whole interleaver blocks at the modem type's symbol rate; the far receiver's
// activity flag is up while the data part is on the air, and the blocks of each interleaver block
// are handed to the far pipeline when that interleaver block has been received.  A station that
// transmits hears nothing: a burst that overlaps any transmission of its receiver is lost.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "link/link_session.h"
#include "link/ports.h"

namespace kavra::link {

// Files in memory, with switches for failures.
class MemoryFileSystem : public FileSystem {
public:
    bool ReadHead(const std::string& path, std::size_t max_bytes, std::vector<std::uint8_t>& head,
                  std::uint64_t& size) override;
    bool CreateEmpty(const std::string& path) override;
    bool WriteAt(const std::string& path, std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    bool ReadText(const std::string& path, std::string& text) override;
    bool WriteText(const std::string& path, std::string_view text) override;
    bool CreateFolder(const std::string& path) override;

    std::map<std::string, std::vector<std::uint8_t>> files;
    // A large file to send without holding it: its size and a byte pattern (byte i = i * 7 + 3).
    std::map<std::string, std::uint64_t> patterned_files;
    std::set<std::string> folders;
    bool fail_create = false;
    int writes_before_failure = -1;  // -1: writes never fail
    int writes = 0;
};

// A receiver whose status the caller sets.
class ScriptedReceiver : public ReceiverStatus {
public:
    bool IsReceiving() override { return receiving; }
    int Snr() override { return snr; }
    int Mode() override { return mode; }
    SnrFigures LastFrameSnr() override { return last_frame; }
    bool receiving = false;
    int snr = kSnrNone;
    int mode = 4;
    SnrFigures last_frame{12, 10, 14};
};

// The recorded user interface.
class RecordingUi : public UserInterface {
public:
    struct Line {
        std::uint64_t time_ms;
        int kind;  // LogKind or ChatKind
        std::string text;
    };
    explicit RecordingUi(const std::uint64_t& now) : now_(now) {}

    void AppendLog(LogKind kind, std::string_view text) override;
    void AppendChat(ChatKind kind, std::string_view text) override;
    void SetLabel(StatusLabel label, std::string_view text) override;
    void SetCommandEnabled(Command command, bool enabled) override;
    void SetFileProgress(int percent) override { file_progress = percent; }
    void SetTransmitProgress(int percent) override;
    void ShowQuestion(std::string_view caption, std::string_view text, std::string_view cancel_caption) override;
    void SetQuestionCancelCaption(std::string_view cancel_caption) override { question_cancel = cancel_caption; }
    void CloseQuestion() override { question_shown = false; }
    std::optional<std::string> AskCallsign(const std::vector<std::string>& callsigns) override;
    std::optional<std::string> ChooseFile() override;

    // The log lines, optionally of one kind only, that contain `text`.
    int CountLog(std::string_view text) const;
    std::optional<std::uint64_t> FirstLogTime(std::string_view text) const;
    bool HasLog(std::string_view text) const { return CountLog(text) > 0; }

    std::vector<Line> log;
    std::vector<Line> chat;
    std::array<std::string, 6> labels{};
    std::array<bool, kCommandCount> commands{};
    int file_progress = 0;
    int transmit_progress = 0;
    int max_transmit_progress = 0;
    bool question_shown = false;
    std::string question_caption, question_text, question_cancel;
    std::vector<std::string> offered_callsigns;
    std::optional<std::string> next_callsign;  // the Connection dialog's answer
    std::optional<std::string> next_file;      // the file dialog's answer

private:
    const std::uint64_t& now_;
};

struct ChannelConditions {
    SnrFigures snr{20, 20, 20};  // what the far receiver measures
    double block_loss = 0.0;     // fraction of blocks lost at random
};

enum class Answer : std::uint8_t { Accept, Refuse, Never };
struct AnswerPolicy {
    Answer answer = Answer::Accept;
    std::uint32_t delay_ms = 0;
};

struct BurstRecord {
    int from = 0;
    std::uint64_t start_ms = 0;
    std::uint64_t data_start_ms = 0;  // end of the preamble
    std::uint64_t end_ms = 0;
    int mode = 0;
    std::vector<std::uint8_t> codes;  // control code of every block (0 = data)
    bool lost = false;                // the far station did not hear it
    int Count(ControlCode code) const;
};

class TwoStationSim;

class SimStation {
public:
    SimStation(TwoStationSim& sim, int index, const LinkSettings& settings);
    SimStation(const SimStation&) = delete;
    SimStation& operator=(const SimStation&) = delete;

    LinkSession& session() noexcept { return *session_; }
    int index() const noexcept { return index_; }
    bool Keyed() const noexcept { return keyed_; }
    bool Transmitting() const;
    bool Receiving() const noexcept { return receiving_; }

    // The program restarted: a fresh link layer on the same files (nothing on the air).
    void Restart();

    // User actions.
    void Connect(const std::string& callsign);     // through the Connection dialog
    void SendFile(const std::string& path);        // through the file dialog
    bool Chat(const std::string& text) { return session_->ChatEnter(text); }

    RecordingUi ui;
    MemoryFileSystem files;
    AnswerPolicy call_answer;
    AnswerPolicy offer_answer;
    AnswerPolicy send_answer;
    std::uint32_t status_phase_ms = 0;  // the status refresh runs when (time + phase) % 200 == 0
    std::uint64_t blocks_dropped_by_filter = 0;

private:
    friend class TwoStationSim;

    class StationClock : public Clock {
    public:
        explicit StationClock(SimStation& s) : s_(s) {}
        std::uint32_t NowMs() override;
        void SleepMs(std::uint32_t ms) override { s_.sleep_ms_ += ms; }
    private:
        SimStation& s_;
    };
    class Sender : public BurstSender {
    public:
        explicit Sender(SimStation& s) : s_(s) {}
        void KeyTransmitter() override { s_.keyed_ = true; }
        void UnkeyTransmitter() override { s_.keyed_ = false; }
        std::uint32_t StartBurst(std::span<const std::uint8_t> bytes, int data_mode) override;
        bool IsPlaying() override { return s_.Transmitting(); }
    private:
        SimStation& s_;
    };
    class Receiver : public ReceiverStatus {
    public:
        explicit Receiver(SimStation& s) : s_(s) {}
        bool IsReceiving() override { return s_.receiving_; }
        int Snr() override { return s_.snr_; }
        int Mode() override { return s_.rx_mode_; }
        SnrFigures LastFrameSnr() override { return s_.last_frame_; }
    private:
        SimStation& s_;
    };

    void Step();
    void Deliver(const LinkBlockBytes& bytes);

    TwoStationSim& sim_;
    int index_;
    int modem_type_;
    LinkSettings settings_;
    StationClock clock_{*this};
    Sender sender_{*this};
    Receiver receiver_{*this};
    std::unique_ptr<LinkSession> session_;

    bool keyed_ = false;
    std::uint64_t tx_end_ms_ = 0;
    bool receiving_ = false;
    int snr_ = kSnrNone;
    int rx_mode_ = 0;
    SnrFigures last_frame_{};
    std::deque<ReceivedBlock> queue_;
    std::uint64_t tx_wake_ms_ = 0;
    std::uint32_t sleep_ms_ = 0;
    Question question_seen_ = Question::None;
    std::uint64_t question_opened_ms_ = 0;
    int question_ticks_ = 0;
};

class TwoStationSim {
public:
    // Station 0 and station 1; `start_tick` is the tick count at time 0 (close to the wrap by
    // default, so that every run crosses it).
    TwoStationSim(const LinkSettings& a, const LinkSettings& b, std::uint64_t seed = 1,
                  std::uint32_t start_tick = 0xFFFFF000u);

    SimStation& station(int i) { return *stations_[static_cast<std::size_t>(i)]; }
    std::uint64_t now_ms() const noexcept { return now_; }
    std::uint32_t Tick() const noexcept { return static_cast<std::uint32_t>(start_tick_ + now_); }

    // Conditions of what station `to` receives.
    ChannelConditions& channel_to(int to) { return channel_[static_cast<std::size_t>(to)]; }
    // The far station stops hearing anything (switched off) or hears again.
    void SetDeaf(int station, bool deaf) { deaf_[static_cast<std::size_t>(station)] = deaf; }
    // The station is gone (its program and radio off: its burst on the air ends, it neither
    // hears nor acts) or back, as a fresh start.
    void SetGone(int station, bool gone);

    void Step();
    void Run(std::uint64_t ms);
    template <class Pred>
    bool RunUntil(Pred done, std::uint64_t max_ms) {
        const std::uint64_t end = now_ + max_ms;
        while (!done()) {
            if (now_ >= end) return false;
            Step();
        }
        return true;
    }

    const std::vector<BurstRecord>& bursts() const noexcept { return bursts_; }
    std::vector<const BurstRecord*> BurstsFrom(int station) const;

private:
    friend class SimStation;
    struct InFlight {
        std::size_t record;
        int to;
        int modem_type;
        std::vector<std::uint8_t> bytes;
        std::vector<std::uint64_t> ready_ms;  // when each block leaves the far decoder
        std::size_t delivered = 0;
        bool flag_up = false;
    };
    std::uint32_t StartBurst(int from, std::span<const std::uint8_t> bytes, int mode);
    void AdvanceAir();
    void Interrupt(int to);

    std::uint64_t now_ = 0;
    std::uint32_t start_tick_;
    std::array<std::unique_ptr<SimStation>, 2> stations_;
    std::array<ChannelConditions, 2> channel_{};
    std::array<bool, 2> deaf_{};
    std::array<bool, 2> gone_{};
    std::vector<BurstRecord> bursts_;
    std::vector<InFlight> air_;
    std::mt19937_64 rng_;
};

}  // namespace kavra::link
