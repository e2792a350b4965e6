// The link layer's ports: everything it needs from the station, as small interfaces with a real
// implementation in the station and a simulated one for tests and the demo.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavra::link {

// Wrapping 32-bit millisecond tick and sleep.  Differences of ticks are taken in unsigned 32-bit
// arithmetic, so the wrap is harmless.  SleepMs is called only from TransmitThread (the 500 ms
// pause after the channel falls quiet).
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint32_t NowMs() = 0;
    virtual void SleepMs(std::uint32_t ms) = 0;
};

enum class LogKind : std::uint8_t { System, Error };     // colours COLOR_SYS, COLOR_ERR
enum class ChatKind : std::uint8_t { Own, Abonent };     // colours COLOR_OWN, COLOR_ABON

enum class StatusLabel : std::uint8_t {
    Connection,       // "No connection" / "Connected: " CALLSIGN
    ReceivedMode,     // hint "Received block mode"
    ReceivedSnr,      // hint "Received block signal-to-noise ratio"
    TransmitStatus,   // hint "Transeive status"
    TransmittedMode,  // hint "Transeived block mode"
    RemoteSnr,        // hint "Transeived block middle signal-to-noise ratio"
};

enum class Command : std::uint8_t { Connect, Disconnect, SendFile, StopTransfer };
inline constexpr int kCommandCount = 4;

// The user interface.  All texts are single-byte (Windows-1251) as the link layer holds them; the
// implementation converts them for display.
//
// AppendLog, AppendChat and SetLabel are called from the user-interface thread and from
// TransmitThread; the implementation carries them out in the user-interface thread in the order
// of the calls (the window queues them).  Everything else is called from the user-interface
// thread only.
class UserInterface {
public:
    virtual ~UserInterface() = default;
    virtual void AppendLog(LogKind kind, std::string_view text) = 0;
    virtual void AppendChat(ChatKind kind, std::string_view text) = 0;
    virtual void SetLabel(StatusLabel label, std::string_view text) = 0;

    virtual void SetCommandEnabled(Command command, bool enabled) = 0;
    virtual void SetFileProgress(int percent) = 0;      // gauge "Progress of transfer file "
    virtual void SetTransmitProgress(int percent) = 0;  // gauge "Progress of transeive block"

    // The request dialog.  ShowQuestion opens it with the cancel caption "Cancel, 30s"; the
    // answer comes back through LinkSession::AnswerQuestion (OK, Cancel, Esc) and the countdown
    // through LinkSession::QuestionTimerTick once a second.  The dialog may be answered from
    // inside ShowQuestion.
    virtual void ShowQuestion(std::string_view caption, std::string_view text, std::string_view cancel_caption) = 0;
    virtual void SetQuestionCancelCaption(std::string_view cancel_caption) = 0;
    virtual void CloseQuestion() = 0;

    // The Connection dialog: the callsigns offered in its list; the entered text, or nothing when
    // cancelled.
    virtual std::optional<std::string> AskCallsign(const std::vector<std::string>& callsigns) = 0;
    // The file-open dialog (initial folder "."): the chosen path, or nothing when cancelled.
    virtual std::optional<std::string> ChooseFile() = 0;
};

// The transmitter and the player.  Called from TransmitThread only.
class BurstSender {
public:
    virtual ~BurstSender() = default;
    virtual void KeyTransmitter() = 0;
    virtual void UnkeyTransmitter() = 0;
    // Turns the blocks into one transmission in `data_mode` (0..5) and starts playing it; answers
    // its length in ms (samples x 1000 / nominal playback rate), 0 when nothing was started.
    virtual std::uint32_t StartBurst(std::span<const std::uint8_t> bytes, int data_mode) = 0;
    // Whether the burst still plays; false when there is no playback device at all.
    virtual bool IsPlaying() = 0;
};

struct SnrFigures {
    int mean = 0;
    int minimum = 0;
    int maximum = 0;
};

inline constexpr int kSnrNone = -100;

// The receiver's part of ReceiverOutput that the link layer reads (any thread).
class ReceiverStatus {
public:
    virtual ~ReceiverStatus() = default;
    virtual bool IsReceiving() = 0;            // the activity flag
    virtual int Snr() = 0;                     // dB, kSnrNone when there is no value
    virtual int Mode() = 0;                    // DataMode being received
    virtual SnrFigures LastFrameSnr() = 0;     // mean, minimum, maximum of the last frame
};

// Plain file access under the working folder, user-interface thread only.  Paths are relative to
// the working folder (or absolute for files chosen to send), single-byte text, '/' separated.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Opens a file for reading: its whole size and up to `max_bytes` from its start.
    virtual bool ReadHead(const std::string& path, std::size_t max_bytes, std::vector<std::uint8_t>& head,
                          std::uint64_t& size) = 0;
    // Creates a file empty, emptying an existing one.
    virtual bool CreateEmpty(const std::string& path) = 0;
    // Opens an existing file for update, writes `bytes` at `offset`, closes it.
    virtual bool WriteAt(const std::string& path, std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
    virtual bool ReadText(const std::string& path, std::string& text) = 0;
    virtual bool WriteText(const std::string& path, std::string_view text) = 0;
    // Creates a folder (an existing one is reused); false when it cannot exist.
    virtual bool CreateFolder(const std::string& path) = 0;
};

// The five ports a LinkSession works through.
struct LinkPorts {
    Clock& clock;
    UserInterface& ui;
    BurstSender& sender;
    ReceiverStatus& receiver;
    FileSystem& files;
};

}  // namespace kavra::link
