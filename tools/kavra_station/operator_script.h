// The terminal operator: commands one per line (from a script or standard input) carried out on
// the user-interface thread, and the request dialog answered by the chosen policy.
//
//   connect CALLSIGN | disconnect | send PATH | stop | say TEXT | wait SECONDS | yes | no | quit
//
// Blank lines and lines starting with '#' are skipped.  A command that cannot be carried out
// (unknown, disabled, text outside Windows-1251) becomes an error line; nothing stops.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "station/station.h"
#include "station/transcript_view.h"

namespace kavra::tools {

enum class CommandKind { Connect, Disconnect, Send, Stop, Say, Wait, Yes, No, Quit };

struct OperatorCommand {
    CommandKind kind = CommandKind::Quit;
    std::string argument;      // UTF-8, as typed
    std::uint64_t wait_ms = 0;
};

// A command, or the reason the line is not one; none for a blank or comment line.
struct ParsedLine {
    std::optional<OperatorCommand> command;
    std::string error;
};
ParsedLine ParseOperatorLine(std::string_view line);

enum class LineStatus { Line, NotYet, End };
// Gives the next line when one is there.
using LineSource = std::function<LineStatus(std::string& line)>;

class OperatorScript {
public:
    OperatorScript(station::Station& station, station::TranscriptView& view, LineSource source,
                   station::AnswerPolicy policy);

    // Every millisecond on the user-interface thread; false once "quit" was given.
    bool Step(std::uint64_t now_ms);
    // No more commands will come (the script or input ended).
    bool InputEnded() const noexcept { return ended_; }

private:
    void Execute(const OperatorCommand& c, std::uint64_t now_ms);
    void Error(const std::string& text);

    station::Station& station_;
    station::TranscriptView& view_;
    LineSource source_;
    station::AnswerPolicy policy_;
    std::uint64_t resume_at_ = 0;
    bool ended_ = false;
    bool quit_ = false;
};

}  // namespace kavra::tools
