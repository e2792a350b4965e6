// A station view for terminals, tests and the demo: every log and chat line, status-bar change and
// caption becomes a stamped transcript line in UTF-8; the request dialog is answered by a policy
// or left open for the operator; the Connection and file dialogs take scripted answers.
// Lines may come from the user-interface thread and TransmitThread at once: a mutex keeps them
// whole and in order.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "station/station_view.h"

namespace kavra::station {

enum class LineKind : std::uint8_t { System, Error, Own, Abonent, Status };
std::string_view LineKindName(LineKind kind) noexcept;

struct TranscriptLine {
    std::uint64_t time_ms = 0;
    LineKind kind = LineKind::System;
    std::string text;  // UTF-8, control characters shown as '_'
};

// How the request dialog ("Connection request", "File receive request") is answered.
enum class AnswerPolicy : std::uint8_t { Yes, No, Ask };

class Station;
// Answers the station's open question the way a terminal operator set: the confirmation of the
// operator's own "send" always yes, a call or a file offer by `policy` (Ask leaves it open).
// Answers whether it answered.
bool AnswerByPolicy(Station& station, AnswerPolicy policy);

class TranscriptView : public StationView {
public:
    using Now = std::function<std::uint64_t()>;
    explicit TranscriptView(Now now) : now_(std::move(now)) {}

    void AppendLog(link::LogKind kind, std::string_view text) override;
    void AppendChat(link::ChatKind kind, std::string_view text) override;
    void SetLabel(link::StatusLabel label, std::string_view text) override;
    void SetCommandEnabled(link::Command command, bool enabled) override;
    void SetFileProgress(int percent) override { file_progress_ = percent; }
    void SetTransmitProgress(int percent) override { transmit_progress_ = percent; }
    void ShowQuestion(std::string_view caption, std::string_view text, std::string_view cancel_caption) override;
    void SetQuestionCancelCaption(std::string_view) override {}
    void CloseQuestion() override { question_open_ = false; }
    std::optional<std::string> AskCallsign(const std::vector<std::string>& callsigns) override;
    std::optional<std::string> ChooseFile() override;
    void SetCaption(std::string_view caption) override;
    void OpenPreferences() override;

    // ---- the operator's side (user-interface thread)
    bool QuestionOpen() const { return question_open_; }
    void SetNextFile(std::string path) { next_file_ = std::move(path); }
    void SetNextCallsign(std::string callsign) { next_callsign_ = std::move(callsign); }
    // Every line as it is made (printing), in addition to keeping it.
    void SetLineSink(std::function<void(const TranscriptLine&)> sink) { sink_ = std::move(sink); }
    // Lines go only to the sink, not kept (a station left running for days).
    void SetKeepLines(bool keep) { keep_lines_ = keep; }

    // The lines from index `from` on (all by default).
    std::vector<TranscriptLine> Lines(std::size_t from = 0) const;
    // Lines of `kind` (any kind when none) containing `text`.
    int Count(std::string_view text, std::optional<LineKind> kind = std::nullopt) const;
    bool Has(std::string_view text, std::optional<LineKind> kind = std::nullopt) const { return Count(text, kind) > 0; }
    // Index of the first line containing `text`.
    std::optional<std::size_t> FirstLine(std::string_view text) const;
    std::string Label(link::StatusLabel label) const;
    bool CommandEnabled(link::Command command) const;
    int FileProgress() const { return file_progress_; }
    const std::string& Caption() const { return caption_; }
    bool PreferencesRequested() const { return preferences_requested_; }

private:
    void Add(LineKind kind, std::string text);

    Now now_;
    mutable std::mutex mutex_;
    std::vector<TranscriptLine> lines_;
    std::function<void(const TranscriptLine&)> sink_;
    std::array<std::string, 6> labels_{};
    std::array<bool, link::kCommandCount> commands_{};
    int file_progress_ = 0;
    int transmit_progress_ = 0;
    bool question_open_ = false;
    std::optional<std::string> next_file_;
    std::optional<std::string> next_callsign_;
    std::string caption_;
    bool preferences_requested_ = false;
    bool keep_lines_ = true;
};

}  // namespace kavra::station
