// LinkSession: construction, settings, the user's commands, the request dialog and the status
// refresh.  User-interface thread unless said otherwise.
#include "link/link_session.h"

#include <algorithm>

#include "link/file_names.h"
#include "modem/common/mode_table.h"

namespace kavra::link {

namespace {
std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }
}  // namespace

std::string_view LinkStateName(LinkState state) noexcept {
    static constexpr std::array<std::string_view, 13> kNames{
        "Idle",          "Calling",      "Answering",   "Accepted", "Connected",
        "Offering",      "SendingFile",  "OfferReceived", "FileAccepted", "ReceivingFile",
        "Closing",       "RefusingFile", "EndingTransfer"};
    const auto i = static_cast<std::size_t>(state);
    return i < kNames.size() ? kNames[i] : std::string_view("?");
}

LinkSession::LinkSession(LinkPorts ports, const LinkSettings& settings)
    : clock_(ports.clock), ui_(ports.ui), sender_(ports.sender), receiver_(ports.receiver), files_(ports.files) {
    empty_chat_block_ = BuildLinkBlock(static_cast<int>(ControlCode::ChatData), 0, {});
    ApplySettings(settings);
    PublishCommands();
}

bool LinkSession::ApplySettings(const LinkSettings& settings) {
    if (!LinkIdle()) return false;
    own_callsign_ = settings.own_callsign.substr(0, kCallsignBytes);
    auto_connect_ = settings.auto_connect;
    auto_receive_ = settings.auto_receive;
    const int type = modem::IsValidModemType(settings.modem_type) ? settings.modem_type : 1;
    timing_ = TimingSetFor(type);
    modem_type_.store(type, std::memory_order_relaxed);
    limited_attempts_.store(settings.limited_attempts, std::memory_order_relaxed);
    limits_[static_cast<std::size_t>(Retry::ConnectAttempts)] =
        std::clamp(settings.connect_attempts, kMinConnectAttempts, kMaxConnectAttempts);
    transfer_poll_ms_.store(timing_.transfer_poll_interval_ms, std::memory_order_relaxed);
    ack_reply_ms_.store(timing_.ack_reply_delay_ms, std::memory_order_relaxed);
    idle_poll_ms_.store(timing_.idle_poll_interval_ms, std::memory_order_relaxed);
    idle_reply_ms_.store(timing_.idle_reply_delay_ms, std::memory_order_relaxed);
    RestoreIdleTiming();
    return true;
}

void LinkSession::SetConnectAvailable(bool available) {
    connect_available_ = available;
    PublishCommands();
}

bool LinkSession::CommandEnabled(Command command) const noexcept {
    const LinkState s = State();
    switch (command) {
        case Command::Connect: return connect_available_ && s == LinkState::Idle;
        // Off from the moment the link is being closed: the click itself disables it.
        case Command::Disconnect: return s == LinkState::Calling || (s >= LinkState::Connected && s != LinkState::Closing);
        case Command::SendFile: return s == LinkState::Connected;
        case Command::StopTransfer: return s == LinkState::SendingFile || s == LinkState::ReceivingFile;
    }
    return false;
}

// ---- helpers

bool LinkSession::Transition(LinkState from, LinkState to) noexcept {
    auto expected = static_cast<std::int32_t>(from);
    return state_.compare_exchange_strong(expected, static_cast<std::int32_t>(to), std::memory_order_acq_rel);
}

void LinkSession::Log(LogKind kind, std::string_view text) { ui_.AppendLog(kind, text); }

void LinkSession::PublishCommands() {
    for (int c = 0; c < kCommandCount; ++c) {
        const auto command = static_cast<Command>(c);
        const std::int8_t on = CommandEnabled(command) ? 1 : 0;
        if (published_commands_[static_cast<std::size_t>(c)] != on) {
            published_commands_[static_cast<std::size_t>(c)] = on;
            ui_.SetCommandEnabled(command, on != 0);
        }
    }
}

void LinkSession::SetPending(const LinkBlockBytes& block) { pending_.Write(block); }

LinkBlockBytes LinkSession::PendingControlBlock() const {
    std::vector<std::uint8_t> bytes;
    pending_.Read(bytes);
    LinkBlockBytes block{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), block.size()), block.begin());
    return block;
}

void LinkSession::ResetCounter(Retry r) noexcept {
    counters_[static_cast<std::size_t>(r)].store(limits_[static_cast<std::size_t>(r)] + 1, std::memory_order_relaxed);
}

void LinkSession::SetRemoteCallsign(std::string_view callsign) {
    remote_callsign_ = std::string(callsign.substr(0, kCallsignBytes));
    remote_callsign_shared_.Set(remote_callsign_);
}

// Any thread.
void LinkSession::RestoreIdleTiming() noexcept {
    poll_interval_.store(idle_poll_ms_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    reply_delay_.store(idle_reply_ms_.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

// After a successful transition to Idle made by this thread.
void LinkSession::EnterIdle(LogKind kind, std::string_view message) {
    scheduler_enabled_.store(0, std::memory_order_release);
    chat_queue_.ClearFromProducer();
    file_progress_.store(0, std::memory_order_relaxed);
    ack_list_.ClearFromProducer();
    RestoreIdleTiming();
    Log(kind, message);
    ui_.SetLabel(StatusLabel::Connection, "No connection");
    ui_.SetLabel(StatusLabel::RemoteSnr, "");
    PublishCommands();
}

void LinkSession::CompleteAcceptance() {
    if (!Transition(LinkState::Accepted, LinkState::Connected)) return;
    Log(LogKind::System, "Connected to " + Quoted(remote_callsign_));
    ui_.SetLabel(StatusLabel::Connection, "Connected: " + remote_callsign_);
    PublishCommands();
}

bool LinkSession::AutoAccepts(AutoAccept option, std::string_view callsign) const {
    switch (option) {
        case AutoAccept::All: return true;
        case AutoAccept::Privileged: return abonents_.IsPrivileged(callsign);
        case AutoAccept::Never: return false;
    }
    return false;
}

std::uint32_t LinkSession::SpeedBitsPerSecond(std::uint64_t bytes) const noexcept {
    std::uint32_t elapsed = end_tick_ - start_tick_;
    if (elapsed == 0) elapsed = 1;  // a transfer that ends within the millisecond it began
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes * 8000u / elapsed, UINT32_MAX));
}

bool LinkSession::AllFlagsSet() const noexcept {
    const std::uint32_t count = block_count_.load(std::memory_order_relaxed);
    for (std::uint32_t n = 0; n < count; ++n)
        if (block_flags_.Get(n) == 0) return false;
    return true;
}

std::string LinkSession::FileName() const { return FileNameWithoutFolder(send_path_); }

std::string LinkSession::CutNotice(std::string_view name, std::string_view moved) const {
    const std::uint64_t size = role_ == Role::Sender ? send_size_ : offered_size_;
    return "File " + Quoted(name) + " was cut: only the first " + std::to_string(kMaxTransferBytes) + " of " +
           std::to_string(size) + " bytes were " + std::string(moved);
}

LinkBlockBytes LinkSession::OwnCallsignBlock(ControlCode code) const {
    const auto field = MakeCallsignField(own_callsign_);
    return BuildLinkBlock(static_cast<int>(code), 0, field);
}

// ---- commands

void LinkSession::Connect1Click() {
    if (!CommandEnabled(Command::Connect)) return;
    const std::optional<std::string> typed = ui_.AskCallsign(abonents_.Callsigns());
    if (typed && !typed->empty()) ConnectTo(*typed);
}

void LinkSession::ConnectTo(std::string_view typed) {
    if (!CommandEnabled(Command::Connect) || typed.empty()) return;
    // Only the first 8 characters go on the air; the replies carry those, so they are the callsign.
    SetRemoteCallsign(typed);
    Log(LogKind::System, "Connecting to " + Quoted(remote_callsign_) + "...");
    std::array<std::uint8_t, 16> payload{};
    const auto target = MakeCallsignField(remote_callsign_);
    const auto caller = MakeCallsignField(own_callsign_);
    std::copy(target.begin(), target.end(), payload.begin());
    std::copy(caller.begin(), caller.end(), payload.begin() + 8);
    SetPending(BuildLinkBlock(static_cast<int>(ControlCode::ConnectRequest), 0, payload));
    pass_counter_.store(0, std::memory_order_relaxed);
    ResetCounter(Retry::ConnectAttempts);
    ResetCounter(Retry::KeepAlive);
    if (!Transition(LinkState::Idle, LinkState::Calling)) return;
    scheduler_enabled_.store(1, std::memory_order_release);
    PublishCommands();
}

void LinkSession::CloseOpenQuestion() {
    if (question_ == Question::None) return;
    question_ = Question::None;
    ui_.CloseQuestion();
}

void LinkSession::Disconnect1Click() {
    for (;;) {
        const LinkState s = State();
        if (s == LinkState::Idle) return;
        if (s >= LinkState::Connected) {
            SetPending(OwnCallsignBlock(ControlCode::DisconnectNotice));
            if (!Transition(s, LinkState::Closing)) continue;
            CloseOpenQuestion();
            Log(LogKind::System, "Disconnecting from " + Quoted(remote_callsign_));
            PublishCommands();
            return;
        }
        if (!Transition(s, LinkState::Idle)) continue;
        CloseOpenQuestion();
        // While answering, the station at the other end is the caller; RemoteCallsign is taken
        // only when the call is accepted.
        EnterIdle(LogKind::System,
                  "Stop connecting to " + Quoted(s == LinkState::Answering ? call_caller_ : remote_callsign_));
        return;
    }
}

void LinkSession::SendFileClick() {
    if (!CommandEnabled(Command::SendFile)) return;
    const std::optional<std::string> chosen = ui_.ChooseFile();
    if (!chosen || State() != LinkState::Connected) return;
    std::vector<std::uint8_t> head;
    std::uint64_t size = 0;
    if (!files_.ReadHead(*chosen, kMaxTransferBytes, head, size)) {
        Log(LogKind::Error, "Can't open file " + Quoted(*chosen));
        return;
    }
    send_path_ = *chosen;
    send_path_shared_.Set(send_path_);
    send_size_ = size;
    const auto transfer = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, kMaxTransferBytes));
    head.resize(transfer);
    send_buffer_.Store(0, head);
    transfer_size_.store(transfer, std::memory_order_relaxed);
    const std::uint32_t count = PiecesForSize(transfer);
    block_count_.store(count, std::memory_order_relaxed);
    block_flags_.Fill(0, count, 0);
    send_cursor_.store(0, std::memory_order_relaxed);
    if (size > kMaxTransferBytes)
        Log(LogKind::Error, "File " + Quoted(send_path_) + " is larger than " + std::to_string(kMaxTransferBytes) +
                                " bytes: only its first " + std::to_string(kMaxTransferBytes) + " bytes can be sent");
    AskUser(Question::SendFile, "File send request...",
            "File " + Quoted(send_path_) + " has size " + std::to_string(send_size_) + " bytes. Are you want transfer?");
}

void LinkSession::FinishSendFile(bool accepted) {
    if (!accepted || State() != LinkState::Connected) return;
    Payload payload{};
    const auto size32 = static_cast<std::uint32_t>(std::min<std::uint64_t>(send_size_, UINT32_MAX));
    for (int i = 0; i < 4; ++i) payload[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size32 >> (8 * i));
    const std::string name = FileName().substr(0, kMaxOfferedName);
    std::copy(name.begin(), name.end(), payload.begin() + 4);
    SetPending(BuildLinkBlock(static_cast<int>(ControlCode::FileOffer), 0, payload));
    ResetCounter(Retry::FileOffers);
    offer_sent_.store(0, std::memory_order_relaxed);
    if (!Transition(LinkState::Connected, LinkState::Offering)) return;
    Log(LogKind::System, "Request for sending file " + Quoted(FileName()) + " to " + Quoted(remote_callsign_) + "...");
    PublishCommands();
}

void LinkSession::StopTransferClick() {
    const LinkState s = State();
    if (s != LinkState::SendingFile && s != LinkState::ReceivingFile) return;
    EndTransferHere(s);
}

// "Stop transfer", or a receiving side that cannot write its file: reports the outcome and sends
// a TransferEnd once.
void LinkSession::EndTransferHere(LinkState from) {
    SetPending(OwnCallsignBlock(ControlCode::TransferEnd));
    if (!Transition(from, LinkState::EndingTransfer)) return;
    RestoreIdleTiming();
    own_transfer_end_ = true;
    end_tick_ = clock_.NowMs();
    const bool receiving = from == LinkState::ReceivingFile;
    const std::string name = receiving ? receive_name_ : FileName();
    if (AllFlagsSet()) {
        average_speed_ = SpeedBitsPerSecond(transfer_size_.load(std::memory_order_relaxed));
        Log(LogKind::System, "File " + Quoted(name) + (receiving ? " received" : " sended") +
                                 " succesfully, average speed " + std::to_string(average_speed_) + " bits/sec");
        if ((receiving ? offered_size_ : send_size_) > kMaxTransferBytes)
            Log(LogKind::Error, CutNotice(name, receiving ? "received" : "sent"));
    } else if (receiving) {
        Log(LogKind::Error, "File " + Quoted(name) + " is NOT completed");
    } else {
        Log(LogKind::Error, "Transfer of file " + Quoted(name) + " is NOT completed");
    }
    PublishCommands();
}

bool LinkSession::ChatEnter(std::string_view text) {
    if (State() < LinkState::Connected || text.empty()) return false;
    const std::string_view line = text.substr(0, kMaxChatInput);
    const std::vector<LinkBlockBytes> blocks = ChatBlocksForLine(line);
    if (chat_queue_.FreeSlots() < blocks.size()) {
        Log(LogKind::Error, "Chat queue is full, the line is not sent");
        return false;
    }
    ui_.AppendChat(ChatKind::Own, own_callsign_ + ": " + std::string(line));
    for (const LinkBlockBytes& b : blocks) chat_queue_.Push(b);
    return true;
}

// ---- the request dialog

void LinkSession::AskUser(Question kind, std::string_view caption, std::string_view text) {
    question_ = kind;
    question_seconds_ = kAnswerSeconds;
    ui_.ShowQuestion(caption, text, "Cancel, " + std::to_string(question_seconds_) + "s");
}

void LinkSession::AnswerQuestion(bool accepted) {
    const Question kind = question_;
    if (kind == Question::None) return;
    question_ = Question::None;
    ui_.CloseQuestion();
    FinishQuestion(kind, accepted);
}

void LinkSession::QuestionTimerTick() {
    if (question_ == Question::None) return;
    if (question_seconds_ > 0) --question_seconds_;
    if (question_seconds_ == 0)
        AnswerQuestion(false);
    else
        ui_.SetQuestionCancelCaption("Cancel, " + std::to_string(question_seconds_) + "s");
}

void LinkSession::FinishQuestion(Question kind, bool accepted) {
    switch (kind) {
        case Question::Call: FinishCall(accepted); break;
        case Question::FileOffer: FinishFileOffer(accepted); break;
        case Question::SendFile: FinishSendFile(accepted); break;
        case Question::None: break;
    }
}

// ---- status refresh

// A receiving station waits out a data turn on the long reply delay.  A turn in the control mode
// is no data turn: the sender has left the transfer (its TransferEnd was lost) and polls on the
// idle timing.  Answering that poll on the idle delay, with an acknowledgement, lets the sender
// repeat its TransferEnd instead of both sides starving each other until the link is lost.
void LinkSession::FollowSendersTurn(int heard_mode) {
    const bool poll = heard_mode == kControlMode;
    const std::uint32_t count = block_count_.load(std::memory_order_relaxed);
    const bool all_in = count > 0 && blocks_received_.load(std::memory_order_relaxed) == count;
    poll_heard_.store(poll ? 1 : 0, std::memory_order_relaxed);
    reply_delay_.store(poll || all_in ? idle_reply_ms_.load(std::memory_order_relaxed) : timing_.data_reply_delay_ms,
                       std::memory_order_relaxed);
}

void LinkSession::StatusRefresh() {
    const std::uint32_t now = clock_.NowMs();
    const bool active = receiver_.IsReceiving();
    if (active != last_activity_seen_) {
        if (active) {
            rx_start_tick_.store(now, std::memory_order_relaxed);
            if (State() == LinkState::ReceivingFile) FollowSendersTurn(receiver_.Mode());
            rx_started_.store(1, std::memory_order_release);
            pass_counter_.store(0, std::memory_order_relaxed);
            ui_.SetLabel(StatusLabel::ReceivedMode, modem::ModeName(receiver_.Mode(), modem_type_.load()));
        } else {
            ui_.SetLabel(StatusLabel::ReceivedMode, "");
        }
        last_activity_seen_ = active;
    }
    const int snr = receiver_.Snr();
    std::string snr_text = active && snr != kSnrNone ? "S/N:" + std::to_string(snr) + " dB" : std::string();
    if (snr_text != shown_snr_) {
        shown_snr_ = snr_text;
        ui_.SetLabel(StatusLabel::ReceivedSnr, shown_snr_);
    }
    const int file_progress = file_progress_.load(std::memory_order_relaxed);
    if (file_progress != shown_file_progress_) {
        shown_file_progress_ = file_progress;
        ui_.SetFileProgress(file_progress);
    }
    int transmit_progress = 0;
    if (tx_status_.load(std::memory_order_acquire) == 2) {
        const std::uint32_t duration = tx_duration_ms_.load(std::memory_order_relaxed);
        const std::uint32_t elapsed = now - tx_start_tick_.load(std::memory_order_relaxed);
        transmit_progress = duration == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(100, std::uint64_t{elapsed} * 100 / duration));
    }
    if (transmit_progress != shown_transmit_progress_) {
        shown_transmit_progress_ = transmit_progress;
        ui_.SetTransmitProgress(transmit_progress);
    }
    // Transitions made by TransmitThread reach the menus here.
    PublishCommands();
}

}  // namespace kavra::link
