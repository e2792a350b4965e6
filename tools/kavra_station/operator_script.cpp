#include "tools/kavra_station/operator_script.h"

#include <cmath>
#include <cstdlib>

#include "link/text_1251.h"

namespace kavra::tools {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

constexpr std::size_t kChatInputChars = 115;

}  // namespace

ParsedLine ParseOperatorLine(std::string_view raw) {
    const std::string_view line = Trim(raw);
    if (line.empty() || line.front() == '#') return {};
    const std::size_t space = line.find_first_of(" \t");
    const std::string_view word = line.substr(0, space);
    const std::string_view rest = space == std::string_view::npos ? std::string_view() : Trim(line.substr(space + 1));
    const std::string argument(rest);
    struct Name {
        std::string_view name;
        CommandKind kind;
        bool needs_argument;
    };
    static constexpr Name kNames[] = {
        {"connect", CommandKind::Connect, true}, {"disconnect", CommandKind::Disconnect, false},
        {"send", CommandKind::Send, true},       {"stop", CommandKind::Stop, false},
        {"say", CommandKind::Say, true},         {"wait", CommandKind::Wait, true},
        {"yes", CommandKind::Yes, false},        {"no", CommandKind::No, false},
        {"quit", CommandKind::Quit, false},
    };
    for (const Name& n : kNames) {
        if (word != n.name) continue;
        if (n.needs_argument && argument.empty()) return {std::nullopt, std::string(word) + ": needs an argument"};
        if (!n.needs_argument && !argument.empty()) return {std::nullopt, std::string(word) + ": takes no argument"};
        OperatorCommand c{n.kind, argument, 0};
        if (n.kind == CommandKind::Wait) {
            char* end = nullptr;
            const double seconds = std::strtod(argument.c_str(), &end);
            if (end == argument.c_str() || *end != '\0' || !std::isfinite(seconds) || seconds < 0 || seconds > 1e7)
                return {std::nullopt, "wait: '" + argument + "' is not a number of seconds"};
            c.wait_ms = static_cast<std::uint64_t>(std::llround(seconds * 1000.0));
        }
        return {c, {}};
    }
    return {std::nullopt, "unknown command '" + std::string(word) +
                              "' (connect CALLSIGN, disconnect, send PATH, stop, say TEXT, wait SECONDS, yes, no, quit)"};
}

OperatorScript::OperatorScript(station::Station& station, station::TranscriptView& view, LineSource source,
                               station::AnswerPolicy policy)
    : station_(station), view_(view), source_(std::move(source)), policy_(policy) {}

void OperatorScript::Error(const std::string& text) { view_.AppendLog(link::LogKind::Error, text); }

bool OperatorScript::Step(std::uint64_t now_ms) {
    station::AnswerByPolicy(station_, policy_);
    while (!quit_ && !ended_ && now_ms >= resume_at_) {
        std::string line;
        const LineStatus status = source_(line);
        if (status == LineStatus::NotYet) break;
        if (status == LineStatus::End) {
            ended_ = true;
            break;
        }
        const ParsedLine parsed = ParseOperatorLine(line);
        if (!parsed.error.empty()) Error(parsed.error);
        if (parsed.command) Execute(*parsed.command, now_ms);
    }
    return !quit_;
}

void OperatorScript::Execute(const OperatorCommand& c, std::uint64_t now_ms) {
    auto to_1251 = [&](const char* what) -> std::optional<std::string> {
        auto text = link::Utf8ToCp1251(c.argument);
        if (!text) Error(std::string(what) + ": '" + c.argument + "' holds characters outside Windows-1251");
        return text;
    };
    switch (c.kind) {
        case CommandKind::Connect:
            if (auto cs = to_1251("connect")) {
                if (cs->size() > station::kCallsignChars)
                    Error("connect: a callsign has at most 8 characters");
                else if (!station_.Connect(*cs))
                    Error("connect: not possible now (a link is up, or sound or keying is not ready)");
            }
            break;
        case CommandKind::Disconnect:
            if (!station_.Disconnect()) Error("disconnect: there is no link");
            break;
        case CommandKind::Send:
            if (auto path = to_1251("send")) {
                view_.SetNextFile(*path);
                if (!station_.SendFile()) Error("send: not possible now (no link, or a transfer is going on)");
            }
            break;
        case CommandKind::Stop:
            if (!station_.StopTransfer()) Error("stop: no file is being sent");
            break;
        case CommandKind::Say:
            if (auto text = to_1251("say")) {
                if (text->size() > kChatInputChars)
                    Error("say: a chat line has at most 115 characters");
                else if (!station_.Say(*text))
                    Error("say: the line was not sent (no link, or the chat queue is full)");
            }
            break;
        case CommandKind::Wait: resume_at_ = now_ms + c.wait_ms; break;
        case CommandKind::Yes:
        case CommandKind::No:
            if (!station_.Answer(c.kind == CommandKind::Yes)) Error(std::string(c.kind == CommandKind::Yes ? "yes" : "no") + ": no question is open");
            break;
        case CommandKind::Quit: quit_ = true; break;
    }
}

}  // namespace kavra::tools
