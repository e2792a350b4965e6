#include "station/transcript_view.h"

#include <algorithm>

#include "link/file_names.h"
#include "link/text_1251.h"
#include "station/station.h"

namespace kavra::station {

std::string_view LineKindName(LineKind kind) noexcept {
    switch (kind) {
        case LineKind::System: return "system";
        case LineKind::Error: return "error";
        case LineKind::Own: return "own";
        case LineKind::Abonent: return "abonent";
        case LineKind::Status: return "status";
    }
    return "system";
}

bool AnswerByPolicy(Station& station, AnswerPolicy policy) {
    const link::Question q = station.Session().OpenQuestion();
    if (q == link::Question::None) return false;
    if (q == link::Question::SendFile) return station.Answer(true);
    if (policy == AnswerPolicy::Ask) return false;
    return station.Answer(policy == AnswerPolicy::Yes);
}

namespace {
constexpr std::array<std::string_view, 6> kLabelNames{"connection", "received mode", "received S/N",
                                                      "transmit", "transmitted mode", "remote S/N"};
}

// Texts from the air (callsigns, chat, file names) may hold any byte: control characters are shown
// as '_', so that a line cannot move the operator's terminal or break into lines of its own.
void TranscriptView::Add(LineKind kind, std::string text) {
    TranscriptLine line{now_(), kind, link::VisibleName(text)};
    std::lock_guard lock(mutex_);
    if (sink_) sink_(line);
    if (keep_lines_) lines_.push_back(std::move(line));
}

void TranscriptView::AppendLog(link::LogKind kind, std::string_view text) {
    Add(kind == link::LogKind::Error ? LineKind::Error : LineKind::System, link::Cp1251ToUtf8(text));
}

void TranscriptView::AppendChat(link::ChatKind kind, std::string_view text) {
    Add(kind == link::ChatKind::Own ? LineKind::Own : LineKind::Abonent, link::Cp1251ToUtf8(text));
}

void TranscriptView::SetLabel(link::StatusLabel label, std::string_view text) {
    const auto i = static_cast<std::size_t>(label);
    std::string utf8 = link::Cp1251ToUtf8(text);
    {
        std::lock_guard lock(mutex_);
        if (labels_[i] == utf8) return;
        labels_[i] = utf8;
    }
    Add(LineKind::Status, std::string(kLabelNames[i]) + ": " + utf8);
}

void TranscriptView::SetCommandEnabled(link::Command command, bool enabled) {
    std::lock_guard lock(mutex_);
    commands_[static_cast<std::size_t>(command)] = enabled;
}

void TranscriptView::ShowQuestion(std::string_view caption, std::string_view text, std::string_view) {
    question_open_ = true;
    Add(LineKind::System, "question: " + link::Cp1251ToUtf8(caption) + " " + link::Cp1251ToUtf8(text));
}

std::optional<std::string> TranscriptView::AskCallsign(const std::vector<std::string>&) {
    auto answer = std::move(next_callsign_);
    next_callsign_.reset();
    return answer;
}

std::optional<std::string> TranscriptView::ChooseFile() {
    auto answer = std::move(next_file_);
    next_file_.reset();
    return answer;
}

void TranscriptView::SetCaption(std::string_view caption) {
    caption_ = link::Cp1251ToUtf8(caption);
    Add(LineKind::Status, "caption: " + caption_);
}

void TranscriptView::OpenPreferences() {
    preferences_requested_ = true;
    Add(LineKind::Error, "No callsign set: set CALLSIGN in the settings (Preferences).");
}

std::vector<TranscriptLine> TranscriptView::Lines(std::size_t from) const {
    std::lock_guard lock(mutex_);
    if (from >= lines_.size()) return {};
    return {lines_.begin() + static_cast<std::ptrdiff_t>(from), lines_.end()};
}

int TranscriptView::Count(std::string_view text, std::optional<LineKind> kind) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(), [&](const TranscriptLine& l) {
        return (!kind || l.kind == *kind) && l.text.find(text) != std::string::npos;
    }));
}

std::optional<std::size_t> TranscriptView::FirstLine(std::string_view text) const {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].text.find(text) != std::string::npos) return i;
    return std::nullopt;
}

std::string TranscriptView::Label(link::StatusLabel label) const {
    std::lock_guard lock(mutex_);
    return labels_[static_cast<std::size_t>(label)];
}

bool TranscriptView::CommandEnabled(link::Command command) const {
    std::lock_guard lock(mutex_);
    return commands_[static_cast<std::size_t>(command)];
}

}  // namespace kavra::station
