// The receive handler: one branch per control code, run in the user-interface thread for every
// block the receive pipeline lets through.
#include <algorithm>

#include "link/file_names.h"
#include "link/link_session.h"

namespace kavra::link {

namespace {

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

std::span<const std::uint8_t> Field(const ReceivedBlock& b, std::size_t offset, std::size_t n) {
    return std::span<const std::uint8_t>(b.payload).subspan(offset, n);
}

std::int16_t ReadInt16(const ReceivedBlock& b, std::size_t offset) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(b.payload[offset] | b.payload[offset + 1] << 8));
}

}  // namespace

void LinkSession::HandleReceivedBlock(const ReceivedBlock& block) {
    if (question_ != Question::None) return;
    switch (static_cast<ControlCode>(block.code)) {
        case ControlCode::Data: OnDataBlock(block); break;
        case ControlCode::ConnectRequest: OnConnectRequest(block); break;
        case ControlCode::ConnectReply: OnConnectReply(block); break;
        case ControlCode::DisconnectNotice: OnDisconnectNotice(block); break;
        case ControlCode::ChatData: OnChatData(block); break;
        case ControlCode::FileOffer: OnFileOffer(block); break;
        case ControlCode::FileReply: OnFileReply(block); break;
        case ControlCode::TransferEnd: OnTransferEnd(block); break;
        case ControlCode::BlockAck: OnBlockAck(block); break;
        case ControlCode::SignalReport: OnSignalReport(block); break;
        default: break;  // codes 10..255
    }
}

// ---- connection

void LinkSession::OnConnectRequest(const ReceivedBlock& b) {
    if (State() != LinkState::Idle) return;
    const std::string target = ReadCallsignField(Field(b, 0, kCallsignBytes));
    if (own_callsign_.empty() || target != own_callsign_) return;
    if (!Transition(LinkState::Idle, LinkState::Answering)) return;
    ResetCounter(Retry::AcceptReplies);
    ResetCounter(Retry::KeepAlive);
    PublishCommands();
    std::copy_n(b.payload.begin(), kCallsignBytes, call_target_.begin());
    call_caller_ = ReadCallsignField(Field(b, 8, kCallsignBytes));
    if (AutoAccepts(auto_connect_, call_caller_))
        FinishCall(true);
    else
        AskUser(Question::Call, "Connection request...",
                Quoted(call_caller_) + " request to connection. Are you accept?");
}

void LinkSession::FinishCall(bool accepted) {
    if (State() != LinkState::Answering) return;  // the attempt was ended meanwhile
    std::array<std::uint8_t, kCallsignBytes + 1> payload{};
    std::copy(call_target_.begin(), call_target_.end(), payload.begin());
    payload[kCallsignBytes] = accepted ? kAnswerAccepted : kAnswerDeclined;
    if (accepted) SetRemoteCallsign(call_caller_);
    SetPending(BuildLinkBlock(static_cast<int>(ControlCode::ConnectReply), 0, payload));
    if (!Transition(LinkState::Answering, accepted ? LinkState::Accepted : LinkState::Closing)) return;
    scheduler_enabled_.store(1, std::memory_order_release);
    if (accepted) Log(LogKind::System, "Connecting to " + Quoted(remote_callsign_) + "...");
    PublishCommands();
}

void LinkSession::OnConnectReply(const ReceivedBlock& b) {
    if (State() != LinkState::Calling || ReadCallsignField(Field(b, 0, kCallsignBytes)) != remote_callsign_) return;
    if (b.payload[kCallsignBytes] != 0) {
        if (!Transition(LinkState::Calling, LinkState::Connected)) return;
        Log(LogKind::System, "Connected to " + Quoted(remote_callsign_));
        ui_.SetLabel(StatusLabel::Connection, "Connected: " + remote_callsign_);
        PublishCommands();
    } else {
        if (!Transition(LinkState::Calling, LinkState::Idle)) return;
        EnterIdle(LogKind::Error, Quoted(remote_callsign_) + " decline connection");
    }
}

void LinkSession::OnDisconnectNotice(const ReceivedBlock& b) {
    const LinkState s = State();
    if (s == LinkState::Idle || ReadCallsignField(Field(b, 0, kCallsignBytes)) != remote_callsign_) return;
    if (!Transition(s, LinkState::Idle)) return;
    EnterIdle(LogKind::System, "Disconnected from " + Quoted(remote_callsign_));
}

void LinkSession::OnChatData(const ReceivedBlock& b) {
    const LinkState s = State();
    if (s < LinkState::Accepted) return;
    ResetCounter(Retry::KeepAlive);
    if (s == LinkState::Accepted) CompleteAcceptance();
    std::vector<std::string> lines;
    chat_lines_.Receive(Field(b, 0, b.length), lines);
    for (const std::string& line : lines) ui_.AppendChat(ChatKind::Abonent, remote_callsign_ + ": " + line);
}

void LinkSession::OnSignalReport(const ReceivedBlock& b) {
    remote_report_ = {ReadInt16(b, 0), ReadInt16(b, 2), ReadInt16(b, 4)};
    ui_.SetLabel(StatusLabel::RemoteSnr, "S/N:" + std::to_string(remote_report_.mean) + " dB");
    mode_class_.store(SelectModeClass(remote_report_.mean, remote_report_.minimum, remote_report_.maximum),
                      std::memory_order_relaxed);
}

// ---- file transfer, receiving side

namespace {
// The offer's size and name, as offered.
std::uint32_t OfferedSize(const ReceivedBlock& b) {
    return static_cast<std::uint32_t>(b.payload[0]) | static_cast<std::uint32_t>(b.payload[1]) << 8 |
           static_cast<std::uint32_t>(b.payload[2]) << 16 | static_cast<std::uint32_t>(b.payload[3]) << 24;
}
std::string OfferedName(const ReceivedBlock& b) {
    std::string offered;
    for (std::size_t i = 4; i < kPayloadArea && b.payload[i] != 0; ++i) offered.push_back(static_cast<char>(b.payload[i]));
    return offered;
}
}  // namespace

bool LinkSession::SameOffer(const ReceivedBlock& b) const {
    return OfferedSize(b) == offered_size_ && SafeReceiveName(OfferedName(b)) == receive_name_;
}

void LinkSession::OnFileOffer(const ReceivedBlock& b) {
    if (State() == LinkState::Accepted) CompleteAcceptance();
    // A sender offers only from Connected.  An offer of another file heard while this station
    // still waits for the data of an earlier one, or receives it, means the sender has given that
    // one up (it never heard the acceptance, or its TransferEnd was lost): the earlier transfer
    // ends here, so that no piece of the new file is written into the old one.  The same offer
    // again only says the sender has not heard the acceptance yet.
    const LinkState s = State();
    if ((s == LinkState::FileAccepted && !SameOffer(b)) || s == LinkState::ReceivingFile) CloseTransfer(s);
    if (State() != LinkState::Connected) return;
    if (!Transition(LinkState::Connected, LinkState::OfferReceived)) return;
    PublishCommands();
    offered_size_ = OfferedSize(b);
    const std::string offered = OfferedName(b);
    receive_name_ = SafeReceiveName(offered);
    receive_name_shared_.Set(receive_name_);
    if (receive_name_ != offered)
        Log(LogKind::Error, "Offered file name " + Quoted(VisibleName(offered)) + " is stored as " + Quoted(receive_name_));
    if (AutoAccepts(auto_receive_, remote_callsign_))
        FinishFileOffer(true);
    else
        AskUser(Question::FileOffer, "File receive request...",
                Quoted(remote_callsign_) + " sending file " + Quoted(receive_name_) + ", size " +
                    std::to_string(offered_size_) + " bytes. Are you want receive?");
}

void LinkSession::FinishFileOffer(bool accepted) {
    if (State() != LinkState::OfferReceived) return;  // the link was ended meanwhile
    std::string path;
    if (accepted) {
        path = std::string(kReceivedFolder) + "/" + receive_name_;
        if (!files_.CreateEmpty(path)) {
            Log(LogKind::Error, "Error! Can't create file " + Quoted(path));
            accepted = false;
        }
    }
    std::array<std::uint8_t, kCallsignBytes + 1> payload{};
    const auto own = MakeCallsignField(own_callsign_);
    std::copy(own.begin(), own.end(), payload.begin());
    payload[kCallsignBytes] = accepted ? kAnswerAccepted : kAnswerDeclined;
    const LinkBlockBytes reply = BuildLinkBlock(static_cast<int>(ControlCode::FileReply), 0, payload);
    if (!accepted) {
        SetPending(reply);
        Transition(LinkState::OfferReceived, LinkState::RefusingFile);
        PublishCommands();
        return;
    }
    ResetCounter(Retry::FileAcceptReplies);
    const auto transfer = static_cast<std::uint32_t>(std::min<std::uint64_t>(offered_size_, kMaxTransferBytes));
    const std::uint32_t count = PiecesForSize(transfer);
    transfer_size_.store(transfer, std::memory_order_relaxed);
    block_count_.store(count, std::memory_order_relaxed);
    block_flags_.Fill(0, count, 0);
    ack_list_.ClearFromProducer();
    receive_path_ = path;
    file_progress_.store(0, std::memory_order_relaxed);
    blocks_received_.store(0, std::memory_order_relaxed);
    poll_heard_.store(0, std::memory_order_relaxed);
    role_ = Role::Receiver;
    own_transfer_end_ = false;
    start_tick_ = clock_.NowMs();  // moved to the first data block; kept for a file without any
    SetPending(reply);
    if (!Transition(LinkState::OfferReceived, LinkState::FileAccepted)) return;
    poll_interval_.store(transfer_poll_ms_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    Log(LogKind::System, "Receiving file " + Quoted(receive_name_) + ", size " + std::to_string(offered_size_) +
                             " bytes, from " + Quoted(remote_callsign_) + "...");
    if (offered_size_ > kMaxTransferBytes)
        Log(LogKind::Error, "File " + Quoted(receive_name_) + " is larger than " + std::to_string(kMaxTransferBytes) +
                                " bytes: only its first " + std::to_string(kMaxTransferBytes) + " bytes can be received");
    PublishCommands();
}

void LinkSession::OnDataBlock(const ReceivedBlock& b) {
    const LinkState s = State();
    if (s == LinkState::Connected && role_ == Role::Receiver && own_transfer_end_) {
        ResendTransferEnd();  // the sender missed the TransferEnd this station sent
        return;
    }
    if (s != LinkState::FileAccepted && s != LinkState::ReceivingFile) return;
    ResetCounter(Retry::AckBursts);
    if (s == LinkState::FileAccepted) {
        if (!Transition(LinkState::FileAccepted, LinkState::ReceivingFile)) return;
        poll_interval_.store(transfer_poll_ms_.load(std::memory_order_relaxed), std::memory_order_relaxed);
        reply_delay_.store(timing_.data_reply_delay_ms, std::memory_order_relaxed);
        start_tick_ = clock_.NowMs();
        PublishCommands();
    }
    const std::uint32_t n = b.sequence & static_cast<unsigned>(kSequenceMask);
    const std::uint32_t count = block_count_.load(std::memory_order_relaxed);
    if (n >= count) return;  // not a piece of the offered file
    const std::uint32_t transfer = transfer_size_.load(std::memory_order_relaxed);
    const std::uint32_t expected = n + 1 < count ? kPieceBytes : transfer - n * kPieceBytes;
    if (b.length != expected) return;  // a piece of another size cannot belong here
    if (block_flags_.Get(n) == 0) {
        if (!files_.WriteAt(receive_path_, std::uint64_t{n} * kPayloadArea, Field(b, 0, expected))) {
            Log(LogKind::Error, "Error! Can't write file " + Quoted(receive_path_));
            EndTransferHere(LinkState::ReceivingFile);
            return;
        }
        block_flags_.Set(n, 1);
        const std::uint32_t received = blocks_received_.load(std::memory_order_relaxed) + 1;
        blocks_received_.store(received, std::memory_order_relaxed);
        file_progress_.store(static_cast<std::int32_t>(std::uint64_t{received} * 100 / count), std::memory_order_relaxed);
        // With every piece in, no data turn is to come: answer whatever is heard after the idle
        // delay, so that a sender whose TransferEnd was lost (and who now polls at the idle
        // interval) cannot keep this station from ever taking its turn.
        if (received == count)
            reply_delay_.store(idle_reply_ms_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    }
    last_piece_.store(n, std::memory_order_relaxed);
    ack_list_.Push(static_cast<std::uint16_t>(n));
}

void LinkSession::OnTransferEnd(const ReceivedBlock& b) {
    const LinkState s = State();
    if (s != LinkState::SendingFile && s != LinkState::FileAccepted && s != LinkState::ReceivingFile) return;
    if (ReadCallsignField(Field(b, 0, kCallsignBytes)) != remote_callsign_) return;
    CloseTransfer(s);
}

// The transfer ends without a TransferEnd of this station's: reports how far it got.
void LinkSession::CloseTransfer(LinkState s) {
    if (!Transition(s, LinkState::Connected)) return;
    end_tick_ = clock_.NowMs();
    const bool sending = s == LinkState::SendingFile;
    const std::string name = sending ? FileName() : receive_name_;
    if (AllFlagsSet()) {
        average_speed_ = SpeedBitsPerSecond(transfer_size_.load(std::memory_order_relaxed));
        Log(LogKind::System, "File " + Quoted(name) + (sending ? " sended" : " received") +
                                 " succesfully, average speed " + std::to_string(average_speed_) + " bits/sec");
        if ((sending ? send_size_ : offered_size_) > kMaxTransferBytes)
            Log(LogKind::Error, CutNotice(name, sending ? "sent" : "received"));
    } else if (sending) {
        Log(LogKind::Error, "Transfer of file " + Quoted(name) + " is NOT completed");
    } else {
        Log(LogKind::Error, "File " + Quoted(name) + " is NOT completed");
    }
    own_transfer_end_ = false;
    RestoreIdleTiming();
    ack_list_.ClearFromProducer();
    PublishCommands();
}

// ---- file transfer, sending side

void LinkSession::OnFileReply(const ReceivedBlock& b) {
    ResetCounter(Retry::KeepAlive);
    const LinkState s = State();
    const bool matches = ReadCallsignField(Field(b, 0, kCallsignBytes)) == remote_callsign_;
    if (s == LinkState::Connected && matches && role_ == Role::Sender && own_transfer_end_ &&
        b.payload[kCallsignBytes] != 0) {
        ResendTransferEnd();  // the receiver of an empty file missed its TransferEnd
        return;
    }
    if (s != LinkState::Offering || !matches) return;
    // A reply in a burst that began before this offer was on the air answers an earlier offer
    // (one given up, whose acceptance the far station still repeats).
    if (!HeardSinceOffer()) return;
    if (b.payload[kCallsignBytes] != 0) {
        first_burst_.store(1, std::memory_order_relaxed);
        ResetCounter(Retry::DataBursts);
        role_ = Role::Sender;
        own_transfer_end_ = false;
        file_progress_.store(0, std::memory_order_relaxed);
        blocks_received_.store(0, std::memory_order_relaxed);
        start_tick_ = clock_.NowMs();
        if (!Transition(LinkState::Offering, LinkState::SendingFile)) return;
        Log(LogKind::System, "Sending file " + Quoted(FileName()) + ", size " + std::to_string(send_size_) +
                                 " bytes, to " + Quoted(remote_callsign_) + "...");
        PublishCommands();
        // An empty file has no piece to send: it is complete at once.
        if (block_count_.load(std::memory_order_relaxed) == 0) CompleteSend(LinkState::SendingFile);
    } else {
        if (!Transition(LinkState::Offering, LinkState::Connected)) return;
        Log(LogKind::Error, Quoted(remote_callsign_) + " decline file " + Quoted(send_path_));
        PublishCommands();
    }
}

void LinkSession::OnBlockAck(const ReceivedBlock& b) {
    const LinkState s = State();
    if (s != LinkState::SendingFile && s != LinkState::Connected) return;
    if (s == LinkState::Connected && role_ != Role::Sender) return;  // no file of this station's
    ResetCounter(Retry::DataBursts);
    std::array<std::uint16_t, kMaxNumbersPerAck> numbers{};
    const std::size_t n = UnpackBlockNumbers(Field(b, 0, b.length), numbers);
    for (std::size_t i = 0; i < n; ++i) block_flags_.Set(numbers[i] & static_cast<unsigned>(kSequenceMask), 1);
    const std::uint32_t count = block_count_.load(std::memory_order_relaxed);
    std::uint32_t set = 0;
    for (std::uint32_t k = 0; k < count; ++k) set += block_flags_.Get(k) != 0 ? 1u : 0u;
    const int progress = count == 0 ? 100 : static_cast<int>(std::uint64_t{set} * 100 / count);
    file_progress_.store(progress, std::memory_order_relaxed);
    if (progress == 100)
        CompleteSend(s);
    else if (s == LinkState::Connected && own_transfer_end_)
        ResendTransferEnd();  // the receiver missed the TransferEnd of a stopped transfer
}

// Every piece is acknowledged: report and end the transfer with a TransferEnd.
void LinkSession::CompleteSend(LinkState from) {
    SetPending(OwnCallsignBlock(ControlCode::TransferEnd));
    if (!Transition(from, LinkState::EndingTransfer)) return;
    RestoreIdleTiming();
    own_transfer_end_ = true;
    end_tick_ = clock_.NowMs();
    average_speed_ = SpeedBitsPerSecond(transfer_size_.load(std::memory_order_relaxed));
    Log(LogKind::System, "File " + Quoted(FileName()) + " sended succesfully, average speed " +
                             std::to_string(average_speed_) + " bits/sec");
    if (send_size_ > kMaxTransferBytes) Log(LogKind::Error, CutNotice(FileName(), "sent"));
    PublishCommands();
}

bool LinkSession::HeardSinceOffer() const noexcept {
    if (offer_sent_.load(std::memory_order_acquire) == 0) return false;
    const std::uint32_t since = rx_start_tick_.load(std::memory_order_relaxed) - offer_end_tick_.load(std::memory_order_relaxed);
    return static_cast<std::int32_t>(since) >= 0;
}

void LinkSession::ResendTransferEnd() {
    SetPending(OwnCallsignBlock(ControlCode::TransferEnd));
    if (Transition(LinkState::Connected, LinkState::EndingTransfer)) PublishCommands();
}

}  // namespace kavra::link
