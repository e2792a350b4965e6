// The link layer driven from the air and the operator at once: a LinkSession on fake ports takes
// an input-chosen sequence of received blocks (each with a valid CRC, as the pipeline would hand
// them on), scheduler passes and turns, operator commands, question answers, receiver states and
// clock steps.  After every step the session's record must be in range; every file write must
// land inside RECEIVED/ within the accepted file; every burst must be whole, well-formed blocks
// whose file data matches the file being sent.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "link/file_names.h"
#include "link/link_session.h"
#include "link/simulation.h"
#include "station/transcript_view.h"

namespace kavra::fuzz {
namespace {

using namespace kavra::link;

constexpr char kOwn[] = "KAVRA1";
constexpr char kPeer[] = "PEER7";
constexpr char kSendPath[] = "/outgoing/report.bin";
constexpr char kBigPath[] = "/outgoing/large.bin";  // patterned, larger than one transfer

class FuzzClock : public Clock {
public:
    std::uint32_t NowMs() override { return now; }
    void SleepMs(std::uint32_t ms) override { now += ms; }
    std::uint32_t now = 0xFFFFF000u;  // every long input crosses the wrap
};

using FuzzReceiver = ScriptedReceiver;

// A received file name must be one plain name inside RECEIVED: no folder, no device, nothing a
// file system refuses.
bool IsSafeReceivedPath(const std::string& path) {
    const std::string prefix = std::string(kReceivedFolder) + "/";
    if (path.rfind(prefix, 0) != 0) return false;
    const std::string name = path.substr(prefix.size());
    if (name.empty() || name == "." || name == ".." || name.size() > 64) return false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || u == 0x98 || std::string_view("/\\<>:\"|?*").find(c) != std::string_view::npos)
            return false;
    }
    return name.back() != '.' && name.back() != ' ';
}

// The memory file system, refusing (by stopping the run) every write the link layer must never
// make: outside RECEIVED/, to another file than the one accepted, past the accepted size, or a
// piece that is not one block's worth at its block's place.
class CheckedFiles : public MemoryFileSystem {
public:
    const LinkSession* session = nullptr;

    bool CreateEmpty(const std::string& path) override {
        KAVRA_CHECK_MSG(IsSafeReceivedPath(path), "CreateEmpty('" + path + "')");
        return MemoryFileSystem::CreateEmpty(path);
    }
    bool WriteAt(const std::string& path, std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        KAVRA_CHECK_MSG(IsSafeReceivedPath(path), "WriteAt('" + path + "')");
        KAVRA_CHECK(session != nullptr && path == session->ReceivePath());
        KAVRA_CHECK(session->State() == LinkState::ReceivingFile);
        const std::uint64_t size = session->TransferSize();
        KAVRA_CHECK(size <= kMaxTransferBytes);
        KAVRA_CHECK_MSG(offset + bytes.size() <= size,
                        "write of " + std::to_string(bytes.size()) + " at " + std::to_string(offset) + " in a file of " +
                            std::to_string(size));
        KAVRA_CHECK(offset % kPieceBytes == 0);
        KAVRA_CHECK(!bytes.empty() && bytes.size() <= kPieceBytes);
        // Only the last piece may be short.
        KAVRA_CHECK(bytes.size() == kPieceBytes || offset + bytes.size() == size);
        return MemoryFileSystem::WriteAt(path, offset, bytes);
    }
    bool WriteText(const std::string& path, std::string_view text) override {
        Broken("the link layer writes no text file", __FILE__, __LINE__, path);
        return MemoryFileSystem::WriteText(path, text);
    }
    bool CreateFolder(const std::string& path) override {
        Broken("the link layer creates no folder", __FILE__, __LINE__, path);
        return MemoryFileSystem::CreateFolder(path);
    }
};

// The transmitter: every burst is parsed back; file data must be the sent file's bytes.
class CheckedSender : public BurstSender {
public:
    const LinkSession* session = nullptr;
    const MemoryFileSystem* files = nullptr;
    bool playing = false;
    bool keyed = false;
    std::uint32_t duration_ms = 2400;
    std::uint64_t bursts = 0;

    void KeyTransmitter() override { keyed = true; }
    void UnkeyTransmitter() override { keyed = false; }
    bool IsPlaying() override { return playing; }

    std::uint32_t StartBurst(std::span<const std::uint8_t> bytes, int data_mode) override {
        KAVRA_CHECK(keyed);
        KAVRA_CHECK_MSG(!bytes.empty() && bytes.size() % kLinkBlockSize == 0,
                        "burst of " + std::to_string(bytes.size()) + " bytes");
        KAVRA_CHECK(bytes.size() <= kBurstBufferBytes);
        KAVRA_CHECK_MSG(data_mode == 1 || data_mode == 3 || data_mode == 4 || data_mode == 5,
                        "burst mode " + std::to_string(data_mode));
        for (std::size_t at = 0; at < bytes.size(); at += kLinkBlockSize) {
            ReceivedBlock b;
            KAVRA_CHECK(ParseLinkBlock(bytes.subspan(at).first<kLinkBlockSize>(), b) == ParseResult::Ok);
            KAVRA_CHECK_MSG(b.code <= static_cast<int>(ControlCode::SignalReport), "code " + std::to_string(b.code));
            if (b.code == 0) CheckPiece(b);
        }
        ++bursts;
        playing = true;
        return duration_ms;
    }

private:
    void CheckPiece(const ReceivedBlock& b) const {
        KAVRA_CHECK(session->State() == LinkState::SendingFile);
        const std::uint32_t count = session->BlockCount();
        KAVRA_CHECK_MSG(b.sequence < count, "piece " + std::to_string(b.sequence) + " of " + std::to_string(count));
        const std::uint32_t size = session->TransferSize();
        const std::uint32_t offset = std::uint32_t{b.sequence} * kPieceBytes;
        KAVRA_CHECK(b.length == std::min<std::uint32_t>(kPieceBytes, size - offset));
        const std::string& path = session->SendPath();
        const auto plain = files->files.find(path);
        for (std::uint32_t i = 0; i < b.length; ++i) {
            const std::uint32_t at = offset + i;
            const std::uint8_t want = plain != files->files.end() ? plain->second[at]
                                                                  : static_cast<std::uint8_t>(at * 7 + 3);
            KAVRA_CHECK_MSG(b.payload[i] == want, "piece " + std::to_string(b.sequence) + " byte " + std::to_string(i));
        }
    }
};

// The user interface twice: recorded for the checks, and as the headless station's transcript
// (one printed line per event), whose lines must hold no control character: text from the air
// (callsigns, chat, file names) must not move the operator's terminal or start a line of its own.
class TeeUi : public UserInterface {
public:
    TeeUi(RecordingUi& recording, station::TranscriptView& transcript) : r_(recording), t_(transcript) {}
    void AppendLog(LogKind kind, std::string_view text) override { r_.AppendLog(kind, text); t_.AppendLog(kind, text); }
    void AppendChat(ChatKind kind, std::string_view text) override { r_.AppendChat(kind, text); t_.AppendChat(kind, text); }
    void SetLabel(StatusLabel label, std::string_view text) override { r_.SetLabel(label, text); t_.SetLabel(label, text); }
    void SetCommandEnabled(Command c, bool enabled) override { r_.SetCommandEnabled(c, enabled); t_.SetCommandEnabled(c, enabled); }
    void SetFileProgress(int percent) override { r_.SetFileProgress(percent); }
    void SetTransmitProgress(int percent) override { r_.SetTransmitProgress(percent); }
    void ShowQuestion(std::string_view caption, std::string_view text, std::string_view cancel) override {
        r_.ShowQuestion(caption, text, cancel);
        t_.ShowQuestion(caption, text, cancel);
    }
    void SetQuestionCancelCaption(std::string_view cancel) override { r_.SetQuestionCancelCaption(cancel); }
    void CloseQuestion() override {
        r_.CloseQuestion();
        t_.CloseQuestion();
    }
    std::optional<std::string> AskCallsign(const std::vector<std::string>& callsigns) override { return r_.AskCallsign(callsigns); }
    std::optional<std::string> ChooseFile() override { return r_.ChooseFile(); }

private:
    RecordingUi& r_;
    station::TranscriptView& t_;
};

struct Station {
    std::uint64_t ui_time = 0;
    FuzzClock clock;
    RecordingUi ui{ui_time};
    station::TranscriptView transcript{[this] { return ui_time; }};
    TeeUi tee{ui, transcript};
    std::size_t transcript_checked = 0;
    CheckedSender sender;
    FuzzReceiver receiver;
    CheckedFiles files;
    LinkSession session;
    std::array<int, kRetryCount> limits{};

    bool limited_attempts;

    explicit Station(const LinkSettings& settings)
        : session(LinkPorts{clock, tee, sender, receiver, files}, settings), limited_attempts(settings.limited_attempts) {
        files.session = &session;
        sender.session = &session;
        sender.files = &files;
        session.SetConnectAvailable(true);
    }
};

LinkSettings SettingsFrom(Input& in) {
    LinkSettings s;
    const std::uint8_t pick = in.U8();
    s.own_callsign = (pick & 0x80) != 0 ? in.Text(12) : kOwn;
    s.modem_type = static_cast<int>(in.U8() % 3);  // 2: not a modem type
    s.auto_connect = AutoAcceptFromSetting(pick & 3);
    s.auto_receive = AutoAcceptFromSetting((pick >> 2) & 3);
    s.limited_attempts = (pick & 0x10) != 0;
    s.connect_attempts = static_cast<int>(static_cast<std::int8_t>(in.U8()));
    return s;
}

std::vector<std::uint8_t> Field(std::string_view callsign) {
    const auto f = MakeCallsignField(callsign);
    return {f.begin(), f.end()};
}

// A block from the input: either raw (any code, sequence, length and payload) or one of the
// shapes the peer's protocol uses, addressed to this station, with input-chosen contents.
ReceivedBlock BlockFrom(Input& in, const LinkSession& session) {
    const std::uint8_t shape = in.U8();
    std::vector<std::uint8_t> payload;
    int code = 0;
    int sequence = 0;
    const std::string remote = (shape & 0x80) != 0 ? std::string(kPeer) : session.RemoteCallsign();
    switch ((shape & 0x1F) % 10) {  // bits 5..7 are flags of the shapes
        case 0:  // raw
            code = in.U8();
            sequence = in.U16();
            payload = in.Bytes(kPayloadArea);
            break;
        case 1:  // a call to this station
            code = static_cast<int>(ControlCode::ConnectRequest);
            payload = Field(session.OwnCallsign());
            for (const std::uint8_t b : Field(kPeer)) payload.push_back(b);
            break;
        case 2:  // answer to this station's call
            code = static_cast<int>(ControlCode::ConnectReply);
            payload = Field(remote);
            payload.push_back(in.U8());
            break;
        case 3:
        case 4: {  // a piece of the offered file, of the right size, or any size
            code = 0;
            const std::uint32_t count = session.BlockCount();
            sequence = count > 0 && (shape & 0x40) == 0 ? static_cast<int>(in.Below(count)) : in.U16();
            const std::uint32_t size = session.TransferSize();
            const std::uint32_t offset = static_cast<std::uint32_t>(sequence & kSequenceMask) * kPieceBytes;
            std::size_t length = offset < size ? std::min<std::uint32_t>(kPieceBytes, size - offset) : in.U8() % 60u;
            if ((shape & 0x20) != 0) length = in.U8() % 60u;
            payload = in.Take(length);
            payload.resize(length, static_cast<std::uint8_t>(sequence));
            break;
        }
        case 5: {  // a file offer: size and name from the input
            code = static_cast<int>(ControlCode::FileOffer);
            const std::uint32_t size = (shape & 0x40) != 0 ? in.U32() : in.U16();
            for (int i = 0; i < 4; ++i) payload.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
            const std::vector<std::uint8_t> name = in.Bytes(kMaxOfferedName);
            payload.insert(payload.end(), name.begin(), name.end());
            break;
        }
        case 6:  // reply to this station's offer
            code = static_cast<int>(ControlCode::FileReply);
            payload = Field(remote);
            payload.push_back(in.U8());
            break;
        case 7: {  // acknowledgements: numbers near the file's pieces
            code = static_cast<int>(ControlCode::BlockAck);
            std::array<std::uint16_t, kMaxNumbersPerAck> numbers{};
            const std::size_t n = in.U8() % (kMaxNumbersPerAck + 1);
            const std::uint32_t count = std::max<std::uint32_t>(session.BlockCount(), 1);
            // Bit 5: a run of consecutive pieces (a whole large file is acknowledged in ~105 blocks).
            const std::uint32_t first = (shape & 0x20) != 0 ? in.Below(count) : 0;
            for (std::size_t i = 0; i < n; ++i)
                numbers[i] = static_cast<std::uint16_t>((shape & 0x20) != 0   ? first + i
                                                        : (shape & 0x40) != 0 ? in.U16()
                                                                              : in.Below(count));
            std::array<std::uint8_t, kPayloadArea> packed{};
            const std::size_t bytes = PackBlockNumbers(std::span<const std::uint16_t>(numbers.data(), n), packed);
            payload.assign(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(bytes));
            break;
        }
        case 8:  // end of transfer or of the link
            code = static_cast<int>((shape & 0x40) != 0 ? ControlCode::TransferEnd : ControlCode::DisconnectNotice);
            payload = Field(remote);
            break;
        case 9:  // chat text or a signal report
            code = static_cast<int>((shape & 0x40) != 0 ? ControlCode::SignalReport : ControlCode::ChatData);
            payload = in.Bytes(kPayloadArea);
            break;
    }
    if (payload.size() > kPayloadArea) payload.resize(kPayloadArea);
    const LinkBlockBytes bytes = BuildLinkBlock(code, sequence, payload);
    ReceivedBlock block;
    KAVRA_CHECK(ParseLinkBlock(bytes, block) == ParseResult::Ok);
    return block;
}

void CheckRecord(Station& st) {
    const LinkSession& s = st.session;
    const std::vector<station::TranscriptLine> lines = st.transcript.Lines(st.transcript_checked);
    for (const station::TranscriptLine& l : lines)
        for (const char c : l.text)
            KAVRA_CHECK_MSG(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F,
                            "transcript line with control character " + std::to_string(static_cast<unsigned char>(c)));
    st.transcript_checked += lines.size();
    const auto state = static_cast<int>(s.State());
    KAVRA_CHECK_MSG(state >= 0 && state <= 12, "state " + std::to_string(state));
    for (int r = 0; r < kRetryCount; ++r) {
        const int c = s.Counter(static_cast<Retry>(r));
        KAVRA_CHECK_MSG(c >= 0 && c <= kMaxConnectAttempts + 1, "counter " + std::to_string(r) + " = " + std::to_string(c));
    }
    const int mc = s.ModeClass();
    KAVRA_CHECK(mc == 1 || mc == 3 || mc == 5);
    KAVRA_CHECK(s.FileProgress() >= 0 && s.FileProgress() <= 100);
    KAVRA_CHECK(s.TransferSize() <= kMaxTransferBytes);
    KAVRA_CHECK(s.BlockCount() == PiecesForSize(s.TransferSize()));
    KAVRA_CHECK(s.BlockCount() <= kMaxFileBlocks);
    // While receiving, the count of pieces in is the count of pieces flagged (the gauge and the
    // end-of-file rule rest on it).  Outside a reception the counter keeps the last file's count
    // while the piece fields may serve a file chosen to send.
    if (s.State() == LinkState::FileAccepted || s.State() == LinkState::ReceivingFile) {
        std::uint32_t flagged = 0;
        for (std::uint32_t n = 0; n < s.BlockCount(); ++n) flagged += s.BlockFlag(n) ? 1u : 0u;
        KAVRA_CHECK_MSG(s.BlocksReceived() == flagged,
                        std::to_string(s.BlocksReceived()) + " counted, " + std::to_string(flagged) + " flagged");
    }
    KAVRA_CHECK(s.PendingAcks() <= kAckListCapacity);
    KAVRA_CHECK(s.ChatQueueFree() <= kChatQueueSlots);
    KAVRA_CHECK(s.RemoteCallsign().size() <= kCallsignBytes);
    KAVRA_CHECK(s.OwnCallsign().size() <= kCallsignBytes);
    KAVRA_CHECK(s.QuestionSecondsLeft() >= 0 && s.QuestionSecondsLeft() <= kAnswerSeconds);
    // The dialog on screen and the question the session waits for are the same thing.
    KAVRA_CHECK((s.OpenQuestion() != Question::None) == st.ui.question_shown);
    KAVRA_CHECK(s.PollInterval() > 0 && s.PollInterval() <= 62000);
    KAVRA_CHECK(s.ReplyDelay() > 0 && s.ReplyDelay() <= 49000);
    const int tx = s.TxStatus();
    KAVRA_CHECK(tx >= 0 && tx <= 2);
    // The received file holds no byte past the accepted size.
    if (!s.ReceivePath().empty()) {
        const auto f = st.files.files.find(s.ReceivePath());
        if (f != st.files.files.end() && s.State() >= LinkState::FileAccepted && s.State() <= LinkState::ReceivingFile)
            KAVRA_CHECK(f->second.size() <= s.TransferSize());
    }
}

// Scheduler passes a second apart until a burst goes out or the link ends (at most 120).
void Turn(Station& st) {
    const std::uint64_t before = st.sender.bursts;
    for (int i = 0; i < 120 && st.sender.bursts == before; ++i) {
        st.clock.now += 1000;
        st.sender.playing = false;
        st.session.SchedulerPass();
        if (st.session.State() == LinkState::Idle) break;
    }
}

void Run(Input& in) {
    Station st(SettingsFrom(in));
    // A file to send, from the input, and one larger than a transfer.
    st.files.files[kSendPath] = in.Bytes(3000);
    st.files.patterned_files[kBigPath] = kMaxTransferBytes + 1000;
    const bool verbose = std::getenv("KAVRA_FUZZ_VERBOSE") != nullptr;
    int steps = 0;
    while (!in.Empty() && ++steps <= 4000) {
        LinkSession& s = st.session;
        const std::uint8_t op = in.U8();
        switch (op % 19) {
            case 0:
            case 1:
            case 2:
            case 3: {  // a block from the pipeline; bit 7 of op: admitted against a stale state
                const ReceivedBlock b = BlockFrom(in, s);
                const bool stale = (op & 0x80) != 0;
                if ((stale || AdmitsBlock(s.State(), b.code)) && s.ReadyForBlock()) s.HandleReceivedBlock(b);
                break;
            }
            case 4:  // one scheduler pass after some time
                st.clock.now += in.U16();
                st.sender.playing = in.Bool();
                s.SchedulerPass();
                break;
            case 5: Turn(st); break;
            case 6:  // the status refresh, with the receiver's activity
                st.receiver.receiving = in.Bool();
                st.clock.now += 200;
                s.StatusRefresh();
                break;
            case 7:
                if (in.Bool()) {
                    st.ui.next_callsign = (op & 0x80) != 0 ? in.Text(16) : std::string(kPeer);
                    s.Connect1Click();
                } else {
                    s.ConnectTo(in.Text(16));
                }
                break;
            case 8: {
                const std::uint8_t which = in.U8() % 3;
                st.ui.next_file = which == 0 ? kSendPath : which == 1 ? kBigPath : "/no/such/file";
                s.SendFileClick();
                break;
            }
            case 9: s.StopTransferClick(); break;
            case 10: s.Disconnect1Click(); break;
            case 11: {  // a chat line; bit 7: typed again and again, past the queue's room
                const std::string line = in.Text(200);
                for (int n = (op & 0x80) != 0 ? 300 : 1; n > 0; --n) s.ChatEnter(line);
                break;
            }
            case 12: s.AnswerQuestion(in.Bool()); break;
            case 13:
                for (int n = in.U8() % 40; n > 0; --n) s.QuestionTimerTick();
                break;
            case 14:  // what the receiver reports
                st.receiver.receiving = in.Bool();
                st.receiver.snr = static_cast<std::int16_t>(in.U16());
                st.receiver.mode = static_cast<std::int8_t>(in.U8());
                st.receiver.last_frame = {static_cast<int>(in.U32()), static_cast<int>(in.U32()), static_cast<int>(in.U32())};
                break;
            case 15: {
                const LinkSettings next = SettingsFrom(in);
                if (s.ApplySettings(next)) st.limited_attempts = next.limited_attempts;
                break;
            }
            case 16:  // file system failures
                st.files.fail_create = in.Bool();
                st.files.writes_before_failure = static_cast<std::int8_t>(in.U8());
                st.files.writes = 0;
                break;
            case 18: {  // a run of the offered file's pieces, each of its right size, from the pipeline
                const std::uint32_t count = s.BlockCount();
                const std::uint32_t first = count > 0 ? in.Below(count) : 0;
                const std::uint32_t n = in.U16() % (kMaxFileBlocks + 1);
                for (std::uint32_t k = first; k < count && k < first + n && s.ReadyForBlock(); ++k) {
                    const std::uint32_t size = s.TransferSize();
                    std::vector<std::uint8_t> piece(std::min<std::uint32_t>(kPieceBytes, size - k * kPieceBytes),
                                                    static_cast<std::uint8_t>(k));
                    ReceivedBlock b;
                    KAVRA_CHECK(ParseLinkBlock(BuildLinkBlock(0, static_cast<int>(k), piece), b) == ParseResult::Ok);
                    if (AdmitsBlock(s.State(), b.code)) s.HandleReceivedBlock(b);
                    if (k % 64 == 0) CheckRecord(st);
                }
                break;
            }
            case 17: {  // the abonents list (privileged callsigns decide the automatic answers)
                st.files.files[kAbonentsFile] = in.Bytes(200);
                s.Abonents().LoadAbonents(st.files);
                s.SetConnectAvailable(in.Bool() || in.Empty());
                break;
            }
        }
        if (verbose)
            std::fprintf(stderr, "step %d op %d: %s, pieces %u of %u (%u bytes), question %d\n", steps, op % 19,
                         std::string(LinkStateName(s.State())).c_str(), s.BlocksReceived(), s.BlockCount(),
                         s.TransferSize(), static_cast<int>(s.OpenQuestion()));
        CheckRecord(st);
        if (verbose) {
            for (const RecordingUi::Line& l : st.ui.log) std::fprintf(stderr, "    log: %s\n", l.text.c_str());
            for (const RecordingUi::Line& l : st.ui.chat) std::fprintf(stderr, "    chat: %s\n", l.text.c_str());
        }
        // A file reported received is whole on disk: every piece of the accepted size written.  A
        // new offer accepted later in the same step (it ends the earlier reception) starts another
        // file: only the reports after it are about the file on disk now.
        std::size_t current = 0;
        for (std::size_t i = 0; i < st.ui.log.size(); ++i)
            if (st.ui.log[i].text.rfind("Receiving file '", 0) == 0) current = i + 1;
        for (std::size_t i = current; i < st.ui.log.size(); ++i) {
            const RecordingUi::Line& l = st.ui.log[i];
            const std::string success = "File '" + s.ReceiveName() + "' received succesfully";
            if (l.kind != static_cast<int>(LogKind::System) || l.text.rfind(success, 0) != 0) continue;
            const auto f = st.files.files.find(s.ReceivePath());
            KAVRA_CHECK(f != st.files.files.end());
            KAVRA_CHECK_MSG(f->second.size() == s.TransferSize(),
                            std::to_string(f->second.size()) + " bytes on disk of " + std::to_string(s.TransferSize()));
        }
        // Every line the peer's chat puts on screen is one cut line with its sender in front.
        for (const RecordingUi::Line& l : st.ui.chat)
            if (l.kind == static_cast<int>(ChatKind::Abonent)) KAVRA_CHECK(l.text.size() <= kCallsignBytes + 2 + kMaxChatLine);
        st.ui.chat.clear();
        st.ui.log.clear();
    }
    // Then the peer falls silent: every question runs out, the scheduler takes its turns, and
    // the link must end, whatever state the input left it in (a call with unlimited attempts
    // goes on by design).
    LinkSession& s = st.session;
    st.receiver.receiving = false;
    for (int turn = 0; turn < 200 && s.State() != LinkState::Idle; ++turn) {
        if (s.State() == LinkState::Calling && !st.limited_attempts) break;
        for (int tick = 0; tick <= kAnswerSeconds; ++tick) s.QuestionTimerTick();
        st.clock.now += 200;
        s.StatusRefresh();
        Turn(st);
        CheckRecord(st);
    }
    if (s.State() != LinkState::Calling || st.limited_attempts)
        KAVRA_CHECK_MSG(s.State() == LinkState::Idle,
                        "still " + std::string(LinkStateName(s.State())) + " after 200 turns of a silent peer");
}

}  // namespace
}  // namespace kavra::fuzz

KAVRA_FUZZ_ENTRY(kavra::fuzz::Run)
