// Windows-1251, the single-byte character set of text on the air, and UTF-8, the text of the
// desktop and the file system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kavra::link {

// The Unicode code point of a 1251 byte; 0xFFFD for 0x98, which 1251 leaves unassigned.
char32_t Cp1251ToCodePoint(std::uint8_t byte) noexcept;

std::string Cp1251ToUtf8(std::string_view text);
// Nothing when the text is not valid UTF-8 or holds a character that 1251 cannot hold.
std::optional<std::string> Utf8ToCp1251(std::string_view text);

}  // namespace kavra::link
