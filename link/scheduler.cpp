// The transmit scheduler: when this station takes its turn on the half-duplex channel, what the
// burst holds, the retry counters and the ways a silent peer ends the link.  TransmitThread.
#include <algorithm>

#include "link/link_session.h"
#include "modem/common/mode_table.h"

namespace kavra::link {

namespace {
std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }
}  // namespace

bool AdmitsBlock(LinkState state, int code) noexcept {
    const bool request = code == static_cast<int>(ControlCode::ConnectRequest);
    return state == LinkState::Idle ? request : !request;
}

int SelectModeClass(int mean, int minimum, int maximum) noexcept {
    const bool unsteady = mean - minimum >= 5 || maximum - mean >= 5;
    if (unsteady) return mean >= 11 ? 1 : mean >= 6 ? 3 : 5;
    return mean >= 8 ? 1 : mean >= 3 ? 3 : 5;
}

bool LinkSession::MayTransmit(std::uint32_t now, std::uint32_t pass_count) {
    if (receiver_.IsReceiving() || tx_status_.load(std::memory_order_relaxed) != 0) {
        busy_latch_ = true;
        return false;
    }
    if (busy_latch_) {
        busy_latch_ = false;
        clock_.SleepMs(kQuietPauseMs);
        return false;
    }
    const std::uint32_t poll = poll_interval_.load(std::memory_order_relaxed);
    if (rx_started_.load(std::memory_order_acquire) != 0) {
        if (now - rx_start_tick_.load(std::memory_order_relaxed) >= reply_delay_.load(std::memory_order_relaxed)) {
            rx_started_.store(0, std::memory_order_relaxed);
            return true;
        }
    } else if (now - tx_start_tick_.load(std::memory_order_relaxed) >= poll) {
        return true;
    }
    return pass_count >= poll;
}

void LinkSession::SchedulerPass() {
    if (tx_status_.load(std::memory_order_relaxed) != 0 && !sender_.IsPlaying()) {
        tx_status_.store(0, std::memory_order_release);
        sender_.UnkeyTransmitter();
        ui_.SetLabel(StatusLabel::TransmitStatus, "");
        ui_.SetLabel(StatusLabel::TransmittedMode, "");
    }
    // Idle and Answering never send; SchedulerEnabled alone would allow a pass that found the
    // link just ended by this thread.
    const LinkState s = State();
    if (scheduler_enabled_.load(std::memory_order_acquire) != 0 && s != LinkState::Idle && s != LinkState::Answering &&
        MayTransmit(clock_.NowMs(), pass_counter_.load(std::memory_order_relaxed)))
        TakeTurn();
    pass_counter_.fetch_add(1, std::memory_order_relaxed);
}

bool LinkSession::CountDown(Retry r) noexcept {
    auto& counter = counters_[static_cast<std::size_t>(r)];
    int v = counter.load(std::memory_order_relaxed);
    // A counter reset by the other thread meanwhile is left as reset.
    if (v > 0 && counter.compare_exchange_strong(v, v - 1, std::memory_order_relaxed)) --v;
    return v == 0;
}

void LinkSession::AppendBlock(const LinkBlockBytes& block) noexcept {
    if (burst_length_ + kLinkBlockSize > burst_.size()) return;
    std::copy(block.begin(), block.end(), burst_.begin() + static_cast<std::ptrdiff_t>(burst_length_));
    burst_length_ += kLinkBlockSize;
}

void LinkSession::AppendChatSlot() noexcept {
    LinkBlockBytes block;
    if (!chat_queue_.Pop(block)) block = empty_chat_block_;
    AppendBlock(block);
}

void LinkSession::AppendSignalReport() noexcept {
    const SnrFigures own = receiver_.LastFrameSnr();
    std::array<std::uint8_t, 6> payload{};
    const int values[3] = {own.mean, own.minimum, own.maximum};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::clamp(values[i], -32768, 32767)));
        payload[2 * i] = static_cast<std::uint8_t>(v & 0xFFu);
        payload[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    AppendBlock(BuildLinkBlock(static_cast<int>(ControlCode::SignalReport), 0, payload));
}

// D data blocks: the unacknowledged pieces in cyclic order from the cursor, repeated when fewer.
void LinkSession::AppendDataBlocks(int count) noexcept {
    const std::uint32_t blocks = block_count_.load(std::memory_order_relaxed);
    if (blocks == 0) return;
    const std::uint32_t transfer = transfer_size_.load(std::memory_order_relaxed);
    std::uint32_t cursor = send_cursor_.load(std::memory_order_relaxed);
    if (cursor >= blocks) cursor = 0;
    std::array<std::uint8_t, kPayloadArea> piece{};
    for (int i = 0; i < count; ++i) {
        const std::uint32_t n = cursor;
        std::size_t length = kPayloadArea;
        if (n == blocks - 1 && transfer % kPayloadArea != 0) length = transfer % kPayloadArea;
        send_buffer_.Load(std::size_t{n} * kPayloadArea, std::span<std::uint8_t>(piece.data(), length));
        AppendBlock(BuildLinkBlock(0, static_cast<int>(n), std::span<const std::uint8_t>(piece.data(), length)));
        int wraps = 0;
        do {
            if (++cursor == blocks) {
                cursor = 0;
                ++wraps;
            }
        } while (block_flags_.Get(cursor) != 0 && wraps < 2);
    }
    send_cursor_.store(cursor, std::memory_order_relaxed);
}

// The acknowledgement part of a ReceivingFile turn; answers the turn's DataMode.
void LinkSession::AppendAcknowledgements(int& mode) noexcept {
    std::array<std::uint16_t, kAckListCapacity> numbers{};
    std::size_t n = ack_list_.Drain(numbers);
    // Every piece is in but nothing is pending: acknowledge the last piece again, so that a
    // sender that missed nothing but whose TransferEnd was lost sends it once more.  The same
    // after a poll instead of a data turn: the sender has stopped, and an acknowledgement is what
    // makes it repeat its TransferEnd.
    const std::uint32_t count = block_count_.load(std::memory_order_relaxed);
    const std::uint32_t received = blocks_received_.load(std::memory_order_relaxed);
    if (n == 0 && count > 0 && received == count)
        numbers[n++] = static_cast<std::uint16_t>(count - 1);
    else if (n == 0 && received > 0 && poll_heard_.load(std::memory_order_relaxed) != 0)
        numbers[n++] = static_cast<std::uint16_t>(last_piece_.load(std::memory_order_relaxed));
    const std::size_t length = n >= 118 ? 10 : 5;
    mode = n >= 118 ? 3 : 5;
    std::array<std::uint8_t, kPayloadArea> packed{};
    for (std::size_t i = 0; i < n; i += kMaxNumbersPerAck) {
        const std::size_t take = std::min(kMaxNumbersPerAck, n - i);
        const std::size_t bytes = PackBlockNumbers(std::span<const std::uint16_t>(numbers.data() + i, take), packed);
        AppendBlock(BuildLinkBlock(static_cast<int>(ControlCode::BlockAck), 0,
                                   std::span<const std::uint8_t>(packed.data(), bytes)));
    }
    while (burst_length_ / kLinkBlockSize < length) AppendChatSlot();
}

void LinkSession::TakeTurn() {
    const LinkState s = State();
    burst_length_ = 0;
    int mode = kControlMode;
    bool lost = false;
    auto append_pending = [this] {
        std::vector<std::uint8_t> bytes;
        pending_.Read(bytes);
        LinkBlockBytes block{};
        std::copy_n(bytes.begin(), std::min(bytes.size(), block.size()), block.begin());
        AppendBlock(block);
    };
    auto connected_turn = [this, &lost](bool count_down) {
        if (count_down) lost = CountDown(Retry::KeepAlive);
        AppendSignalReport();
        AppendChatSlot();
        AppendChatSlot();
    };
    switch (s) {
        case LinkState::Calling:
            lost = limited_attempts_.load(std::memory_order_relaxed) ? CountDown(Retry::ConnectAttempts)
                                                                     : Counter(Retry::ConnectAttempts) == 0;
            append_pending();
            break;
        case LinkState::Accepted:
            lost = CountDown(Retry::AcceptReplies);
            append_pending();
            break;
        case LinkState::Offering:
        case LinkState::FileAccepted: {
            const bool offering = s == LinkState::Offering;
            if (!CountDown(offering ? Retry::FileOffers : Retry::FileAcceptReplies)) {
                append_pending();
                break;
            }
            // Given up: the message quotes texts the user-interface thread owns, read before the
            // state changes hands.
            const std::string message = Quoted(remote_callsign_shared_.Get()) + " not answer, lost transfer file " +
                                        Quoted(offering ? send_path_shared_.Get() : receive_name_shared_.Get());
            if (!Transition(s, LinkState::Connected)) return;
            // Back to the link's own timing: an accepted offer ran on the transfer poll interval,
            // which would stretch every later keep-alive turn (and the end of a dead link) fourfold.
            RestoreIdleTiming();
            ui_.AppendLog(LogKind::Error, message);
            connected_turn(true);  // sent as a keep-alive turn of Connected
            lost = false;          // a keep-alive counter run out here ends the link on the next turn
            break;
        }
        case LinkState::Connected: connected_turn(true); break;
        case LinkState::OfferReceived: connected_turn(false); break;
        case LinkState::SendingFile: {
            if (first_burst_.exchange(0, std::memory_order_relaxed) != 0) {
                poll_interval_.store(transfer_poll_ms_.load(std::memory_order_relaxed), std::memory_order_relaxed);
                reply_delay_.store(ack_reply_ms_.load(std::memory_order_relaxed), std::memory_order_relaxed);
            }
            lost = CountDown(Retry::DataBursts);
            const int mode_class = mode_class_.load(std::memory_order_relaxed);
            mode = mode_class == 3 || mode_class == 5 ? mode_class : 1;
            AppendSignalReport();
            AppendChatSlot();
            AppendDataBlocks(kBlocksPerBurst[static_cast<std::size_t>(mode / 2)]);
            break;
        }
        case LinkState::ReceivingFile:
            lost = CountDown(Retry::AckBursts);
            AppendSignalReport();
            AppendAcknowledgements(mode);
            break;
        case LinkState::Closing:
        case LinkState::RefusingFile:
        case LinkState::EndingTransfer: append_pending(); break;
        case LinkState::Idle:
        case LinkState::Answering: return;
    }

    if (lost) {
        LoseConnection(s);
        return;
    }

    tx_status_.store(1, std::memory_order_relaxed);
    sender_.KeyTransmitter();
    const std::uint32_t duration = sender_.StartBurst(std::span<const std::uint8_t>(burst_.data(), burst_length_), mode);
    tx_duration_ms_.store(duration, std::memory_order_relaxed);
    tx_start_tick_.store(clock_.NowMs(), std::memory_order_relaxed);
    if (s == LinkState::Offering && offer_sent_.load(std::memory_order_relaxed) == 0) {
        offer_end_tick_.store(clock_.NowMs() + duration, std::memory_order_relaxed);
        offer_sent_.store(1, std::memory_order_release);
    }
    tx_status_.store(2, std::memory_order_release);
    ui_.SetLabel(StatusLabel::TransmitStatus, s == LinkState::SendingFile ? "Transfer file..." : "Transfer data...");
    ui_.SetLabel(StatusLabel::TransmittedMode, modem::ModeName(mode, modem_type_.load(std::memory_order_relaxed)));
    pass_counter_.store(0, std::memory_order_relaxed);

    if (s == LinkState::Closing) {
        if (!Transition(LinkState::Closing, LinkState::Idle)) return;
        chat_queue_.ClearFromConsumer();
        file_progress_.store(0, std::memory_order_relaxed);
        ack_list_.ClearFromConsumer();
        RestoreIdleTiming();
        ui_.SetLabel(StatusLabel::Connection, "No connection");
        ui_.SetLabel(StatusLabel::RemoteSnr, "");
    } else if (s == LinkState::RefusingFile || s == LinkState::EndingTransfer) {
        if (Transition(s, LinkState::Connected)) ack_list_.ClearFromConsumer();
    }
}

// A retry counter ran out: the link is lost and nothing is sent.
void LinkSession::LoseConnection(LinkState from) {
    const std::string message = Quoted(remote_callsign_shared_.Get()) + " not answer, lost connection";
    if (!Transition(from, LinkState::Idle)) return;
    tx_status_.store(0, std::memory_order_relaxed);
    chat_queue_.ClearFromConsumer();
    file_progress_.store(0, std::memory_order_relaxed);
    ack_list_.ClearFromConsumer();
    RestoreIdleTiming();
    ui_.AppendLog(LogKind::Error, message);
    ui_.SetLabel(StatusLabel::Connection, "No connection");
    ui_.SetLabel(StatusLabel::RemoteSnr, "");
}

}  // namespace kavra::link
