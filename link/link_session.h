// The link layer of one station: the LinkSession record with its 13 states, the receive handler,
// the transmit scheduler, the connection, file-transfer and chat commands, the request dialog's
// countdown and the link part of the status refresh.
//
// Threads.  The receive handler, the commands, the questions and StatusRefresh run in the
// user-interface thread; SchedulerPass (and MayTransmit) in TransmitThread; State() anywhere (the
// receive pipeline reads it for AdmitsBlock).  No lock is taken.  Every field both threads touch
// is atomic (or atomic bytes): the link state, the counters, the intervals and ticks with plain
// atomic stores; the pending control block and the texts the scheduler quotes through a seqlock;
// the chat queue and the acknowledgement list as one-producer one-consumer rings.  The user-
// interface thread writes the pending control block first, then the link state (release), then
// SchedulerEnabled; the scheduler reads the state (acquire) and then the block.  Both threads
// change the link state, always by compare-and-swap from the state they acted on, so a change
// made by the other thread in the meantime is never overwritten: the later one gives way.
//
// Texts (callsigns, file names, paths, log lines) are single-byte Windows-1251 strings.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/abonents.h"
#include "link/ack_list.h"
#include "link/chat.h"
#include "link/link_block.h"
#include "link/link_settings.h"
#include "link/ports.h"
#include "link/shared_bytes.h"

namespace kavra::link {

enum class LinkState : std::int32_t {
    Idle = 0,
    Calling = 1,
    Answering = 2,
    Accepted = 3,
    Connected = 4,
    Offering = 5,
    SendingFile = 6,
    OfferReceived = 7,
    FileAccepted = 8,
    ReceivingFile = 9,
    Closing = 10,
    RefusingFile = 11,
    EndingTransfer = 12,
};
std::string_view LinkStateName(LinkState state) noexcept;

// The receive pipeline's link-state filter: in Idle only ConnectRequest blocks pass; in every
// other state everything but ConnectRequest.
bool AdmitsBlock(LinkState state, int code) noexcept;

// DataMode class for file data from the remote station's report of this station's signal: 1, 3, 5.
int SelectModeClass(int mean, int minimum, int maximum) noexcept;

enum class Retry : std::uint8_t {
    ConnectAttempts,
    AcceptReplies,
    KeepAlive,
    FileOffers,
    FileAcceptReplies,
    DataBursts,
    AckBursts,
};
inline constexpr int kRetryCount = 7;

enum class Question : std::uint8_t { None, Call, FileOffer, SendFile };

inline constexpr std::uint32_t kMaxTransferBytes = 241664;  // 4096 pieces of 59 bytes
inline constexpr std::size_t kMaxFileBlocks = 4096;
inline constexpr int kAnswerSeconds = 30;
inline constexpr std::uint32_t kQuietPauseMs = 500;
inline constexpr std::size_t kBurstBufferBytes = 32768;
inline constexpr int kControlMode = 4;          // every control, keep-alive and chat turn
inline constexpr int kStartupPollIntervalMs = 12000;
inline constexpr int kStartupReplyDelayMs = 4000;
inline constexpr std::uint32_t kPieceBytes = 59;  // file bytes per data block
constexpr std::uint32_t PiecesForSize(std::uint32_t bytes) { return (bytes + kPieceBytes - 1) / kPieceBytes; }
// File data blocks per SendingFile turn, by ModeClass / 2.
inline constexpr std::array<int, 3> kBlocksPerBurst{174, 86, 42};

class LinkSession {
public:
    LinkSession(LinkPorts ports, const LinkSettings& settings);
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    // ---- any thread
    LinkState State() const noexcept { return static_cast<LinkState>(state_.load(std::memory_order_acquire)); }
    // No link is being set up or held (the link pages of the Preferences may change).
    bool LinkIdle() const noexcept { return State() == LinkState::Idle; }

    // ---- user-interface thread
    // Takes the settings; refused (false) unless LinkIdle.  The working intervals follow the
    // idle values of the modem type's timing set.
    bool ApplySettings(const LinkSettings& settings);
    // Whether capture, playback and keying work, so that "Connect" may be used.
    void SetConnectAvailable(bool available);
    bool CommandEnabled(Command command) const noexcept;

    void Connect1Click();                      // shows the Connection dialog, then ConnectTo
    void ConnectTo(std::string_view typed);    // the confirmed Connection dialog
    void Disconnect1Click();
    void SendFileClick();
    void StopTransferClick();
    // Enter in the chat input; answers whether the input is to be cleared.
    bool ChatEnter(std::string_view text);

    // One block let through by the receive pipeline.  Not to be called while a question is open
    // (ReadyForBlock false): the request dialog holds the handling of received blocks.
    void HandleReceivedBlock(const ReceivedBlock& block);
    bool ReadyForBlock() const noexcept { return question_ == Question::None; }

    // The request dialog: OK (true) or Cancel/Esc (false), and its one-second countdown tick.
    void AnswerQuestion(bool accepted);
    void QuestionTimerTick();
    Question OpenQuestion() const noexcept { return question_; }
    int QuestionSecondsLeft() const noexcept { return question_seconds_; }

    // The link part of the 200 ms status refresh (reception-start tracking, labels, gauges).
    void StatusRefresh();

    AbonentsList& Abonents() noexcept { return abonents_; }

    // ---- TransmitThread
    void SchedulerPass();
    bool MayTransmit(std::uint32_t now, std::uint32_t pass_count);

    // ---- views for the status bar, tests and the demo (user-interface thread)
    int ModeClass() const noexcept { return mode_class_.load(std::memory_order_relaxed); }
    std::uint32_t PollInterval() const noexcept { return poll_interval_.load(std::memory_order_relaxed); }
    std::uint32_t ReplyDelay() const noexcept { return reply_delay_.load(std::memory_order_relaxed); }
    int Counter(Retry r) const noexcept { return counters_[static_cast<std::size_t>(r)].load(std::memory_order_relaxed); }
    int TxStatus() const noexcept { return tx_status_.load(std::memory_order_relaxed); }
    std::uint32_t TxStartTick() const noexcept { return tx_start_tick_.load(std::memory_order_relaxed); }
    std::uint32_t TxDurationMs() const noexcept { return tx_duration_ms_.load(std::memory_order_relaxed); }
    bool RxStarted() const noexcept { return rx_started_.load(std::memory_order_relaxed) != 0; }
    std::uint32_t RxStartTick() const noexcept { return rx_start_tick_.load(std::memory_order_relaxed); }
    std::uint32_t PassCounter() const noexcept { return pass_counter_.load(std::memory_order_relaxed); }
    bool SchedulerEnabled() const noexcept { return scheduler_enabled_.load(std::memory_order_relaxed) != 0; }
    const std::string& RemoteCallsign() const noexcept { return remote_callsign_; }
    const std::string& OwnCallsign() const noexcept { return own_callsign_; }
    SnrFigures RemoteReport() const noexcept { return remote_report_; }
    LinkBlockBytes PendingControlBlock() const;
    int FileProgress() const noexcept { return file_progress_.load(std::memory_order_relaxed); }
    std::uint32_t AverageSpeed() const noexcept { return average_speed_; }
    std::uint32_t TransferSize() const noexcept { return transfer_size_.load(std::memory_order_relaxed); }
    std::uint32_t BlockCount() const noexcept { return block_count_.load(std::memory_order_relaxed); }
    std::uint32_t BlocksReceived() const noexcept { return blocks_received_.load(std::memory_order_relaxed); }
    std::uint32_t SendCursor() const noexcept { return send_cursor_.load(std::memory_order_relaxed); }
    bool BlockFlag(std::size_t n) const noexcept { return block_flags_.Get(n) != 0; }
    const std::string& ReceiveName() const noexcept { return receive_name_; }
    const std::string& ReceivePath() const noexcept { return receive_path_; }
    const std::string& SendPath() const noexcept { return send_path_; }
    std::size_t PendingAcks() const noexcept { return ack_list_.CountForProducer(); }
    std::size_t ChatQueueFree() const noexcept { return chat_queue_.FreeSlots(); }

private:
    // ---- helpers, user-interface thread
    bool Transition(LinkState from, LinkState to) noexcept;
    void Log(LogKind kind, std::string_view text);
    void PublishCommands();
    void SetPending(const LinkBlockBytes& block);
    void ResetCounter(Retry r) noexcept;
    void SetRemoteCallsign(std::string_view callsign);
    void RestoreIdleTiming() noexcept;
    void EnterIdle(LogKind kind, std::string_view message);
    void CompleteAcceptance();
    bool AutoAccepts(AutoAccept option, std::string_view callsign) const;
    void AskUser(Question kind, std::string_view caption, std::string_view text);
    void FinishQuestion(Question kind, bool accepted);
    void CloseOpenQuestion();
    std::uint32_t SpeedBitsPerSecond(std::uint64_t bytes) const noexcept;
    bool AllFlagsSet() const noexcept;
    std::string FileName() const;
    std::string CutNotice(std::string_view name, std::string_view moved) const;
    LinkBlockBytes OwnCallsignBlock(ControlCode code) const;

    // Receive handler branches.
    void OnConnectRequest(const ReceivedBlock& b);
    void OnConnectReply(const ReceivedBlock& b);
    void OnDisconnectNotice(const ReceivedBlock& b);
    void OnChatData(const ReceivedBlock& b);
    void OnFileOffer(const ReceivedBlock& b);
    void OnFileReply(const ReceivedBlock& b);
    void OnDataBlock(const ReceivedBlock& b);
    void OnTransferEnd(const ReceivedBlock& b);
    void CloseTransfer(LinkState from);
    bool SameOffer(const ReceivedBlock& b) const;
    bool HeardSinceOffer() const noexcept;
    void OnBlockAck(const ReceivedBlock& b);
    void OnSignalReport(const ReceivedBlock& b);
    void FinishCall(bool accepted);
    void FinishFileOffer(bool accepted);
    void FinishSendFile(bool accepted);
    void CompleteSend(LinkState from);
    void EndTransferHere(LinkState from);
    void ResendTransferEnd();
    void FollowSendersTurn(int heard_mode);

    // ---- helpers, TransmitThread
    bool CountDown(Retry r) noexcept;  // answers whether the counter is 0 afterwards
    void AppendBlock(const LinkBlockBytes& block) noexcept;
    void AppendChatSlot() noexcept;
    void AppendSignalReport() noexcept;
    void AppendDataBlocks(int count) noexcept;
    void AppendAcknowledgements(int& mode) noexcept;
    void TakeTurn();
    void LoseConnection(LinkState from);

    // Ports.
    Clock& clock_;
    UserInterface& ui_;
    BurstSender& sender_;
    ReceiverStatus& receiver_;
    FileSystem& files_;

    // Settings (user-interface thread; the scheduler's copies are atomic).
    std::string own_callsign_;
    AutoAccept auto_connect_ = AutoAccept::All;
    AutoAccept auto_receive_ = AutoAccept::All;
    LinkTimingSet timing_ = TimingSetFor(0);
    std::atomic<int> modem_type_{0};
    std::atomic<bool> limited_attempts_{true};
    std::atomic<std::uint32_t> transfer_poll_ms_{0};
    std::atomic<std::uint32_t> ack_reply_ms_{0};
    std::atomic<std::uint32_t> idle_poll_ms_{0};
    std::atomic<std::uint32_t> idle_reply_ms_{0};
    bool connect_available_ = false;
    std::array<int, kRetryCount> limits_{5, 5, 5, 5, 10, 5, 5};

    // The link.
    std::atomic<std::int32_t> state_{0};
    std::atomic<std::int32_t> scheduler_enabled_{0};  // written by the user-interface thread only
    std::string remote_callsign_;
    SharedText remote_callsign_shared_{kCallsignBytes};
    SeqlockBytes pending_{kLinkBlockSize};
    std::array<std::atomic<std::int32_t>, kRetryCount> counters_{};
    std::atomic<std::int32_t> mode_class_{1};
    SnrFigures remote_report_{};
    std::atomic<std::uint32_t> poll_interval_{kStartupPollIntervalMs};
    std::atomic<std::uint32_t> reply_delay_{kStartupReplyDelayMs};
    std::array<std::int8_t, kCommandCount> published_commands_{-1, -1, -1, -1};

    // Turn-taking.
    std::atomic<std::int32_t> tx_status_{0};
    std::atomic<std::uint32_t> tx_start_tick_{0};
    std::atomic<std::uint32_t> tx_duration_ms_{0};
    std::atomic<std::uint32_t> rx_start_tick_{0};
    std::atomic<std::int32_t> rx_started_{0};
    std::atomic<std::uint32_t> pass_counter_{0};
    bool busy_latch_ = false;            // TransmitThread
    bool last_activity_seen_ = false;    // user-interface thread
    std::array<std::uint8_t, kBurstBufferBytes> burst_{};  // TransmitThread
    std::size_t burst_length_ = 0;
    LinkBlockBytes empty_chat_block_{};

    // Chat.
    ChatQueue chat_queue_;
    ChatLineBuffer chat_lines_;

    // File transfer.  The block fields serve whichever side this station is on.
    enum class Role : std::uint8_t { None, Sender, Receiver };
    std::string send_path_;
    SharedText send_path_shared_{4096};
    std::uint64_t send_size_ = 0;
    std::atomic<std::uint32_t> transfer_size_{0};
    SharedBytes send_buffer_{kMaxTransferBytes};
    std::atomic<std::uint32_t> block_count_{0};
    SharedBytes block_flags_{kMaxFileBlocks};
    std::atomic<std::uint32_t> send_cursor_{0};
    std::atomic<std::int32_t> first_burst_{0};
    std::string receive_name_;
    SharedText receive_name_shared_{64};
    std::string receive_path_;
    std::uint64_t offered_size_ = 0;
    std::atomic<std::uint32_t> blocks_received_{0};
    AckList ack_list_;
    // The receiving side: the last piece that arrived, and whether the last turn it heard was a
    // poll in the control mode rather than a data turn (the sender has left the transfer).
    std::atomic<std::uint32_t> last_piece_{0};
    std::atomic<std::int32_t> poll_heard_{0};
    // The sending side: when its first burst with the current offer ended (a reply heard before
    // then answers an earlier offer, not this one).
    std::atomic<std::int32_t> offer_sent_{0};
    std::atomic<std::uint32_t> offer_end_tick_{0};
    std::atomic<std::int32_t> file_progress_{0};
    std::uint32_t start_tick_ = 0;
    std::uint32_t end_tick_ = 0;
    std::uint32_t average_speed_ = 0;
    Role role_ = Role::None;
    bool own_transfer_end_ = false;  // this station ended the last transfer with its TransferEnd

    // The request dialog.
    Question question_ = Question::None;
    int question_seconds_ = 0;
    std::array<std::uint8_t, kCallsignBytes> call_target_{};
    std::string call_caller_;

    AbonentsList abonents_;

    // Status refresh caches (user-interface thread).
    int shown_file_progress_ = -1;
    int shown_transmit_progress_ = -1;
    std::string shown_snr_;
};

}  // namespace kavra::link
