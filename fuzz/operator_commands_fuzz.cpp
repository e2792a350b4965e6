// The headless station's operator commands: any bytes as a script, split into lines as the
// station reads them.  Each line parses to one command, or one error, or nothing (blank or
// comment); a command's argument is the trimmed rest of the line, a wait is a bounded number
// of milliseconds, and the command written back in its plain form parses to itself.  The text a
// command carries to the link layer (callsign, path, chat) converts to Windows-1251 only when it
// is valid UTF-8 of 1251 characters, and converts back to exactly what was typed.
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "link/text_1251.h"
#include "tools/kavra_station/operator_script.h"

namespace kavra::fuzz {
namespace {

using tools::CommandKind;

constexpr std::string_view kWords[] = {"connect", "disconnect", "send", "stop", "say", "wait", "yes", "no", "quit"};

bool NeedsArgument(CommandKind k) {
    return k == CommandKind::Connect || k == CommandKind::Send || k == CommandKind::Say || k == CommandKind::Wait;
}

void CheckText(const std::string& typed) {
    const std::optional<std::string> text = link::Utf8ToCp1251(typed);
    if (!text) return;
    KAVRA_CHECK(text->size() <= typed.size());
    KAVRA_CHECK_MSG(link::Cp1251ToUtf8(*text) == typed, "1251 round trip of '" + typed + "'");
    for (const char c : *text) KAVRA_CHECK(static_cast<unsigned char>(c) != 0x98);
}

void CheckLine(std::string_view line) {
    const tools::ParsedLine parsed = tools::ParseOperatorLine(line);
    KAVRA_CHECK(!(parsed.command && !parsed.error.empty()));
    if (!parsed.command) return;
    const tools::OperatorCommand& c = *parsed.command;
    const auto kind = static_cast<std::size_t>(c.kind);
    KAVRA_CHECK(kind < std::size(kWords));
    KAVRA_CHECK(NeedsArgument(c.kind) == !c.argument.empty());
    if (!c.argument.empty()) {
        for (const char edge : {c.argument.front(), c.argument.back()}) KAVRA_CHECK(edge != ' ' && edge != '\t');
        KAVRA_CHECK(c.argument.back() != '\r' && c.argument.back() != '\n');
        KAVRA_CHECK(line.find(c.argument) != std::string_view::npos);
    }
    if (c.kind == CommandKind::Wait)
        KAVRA_CHECK(c.wait_ms <= 10000000000ull);
    else
        KAVRA_CHECK(c.wait_ms == 0);
    // The plain form parses to the same command.
    const std::string plain = std::string(kWords[kind]) + (c.argument.empty() ? "" : " " + c.argument);
    const tools::ParsedLine again = tools::ParseOperatorLine(plain);
    KAVRA_CHECK(again.command && again.command->kind == c.kind && again.command->argument == c.argument &&
                again.command->wait_ms == c.wait_ms);
    CheckText(c.argument);
}

}  // namespace
}  // namespace kavra::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view script(reinterpret_cast<const char*>(data), size);
    // Lines as std::getline cuts them.
    std::size_t start = 0;
    while (start <= script.size()) {
        const std::size_t end = script.find('\n', start);
        const std::string_view line = script.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        kavra::fuzz::CheckLine(line);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return 0;
}
