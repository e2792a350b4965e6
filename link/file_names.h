// File names of a transfer: the name offered on the air and the one stored under "RECEIVED".
#pragma once

#include <string>
#include <string_view>

namespace kavra::link {

inline constexpr char kReceivedFolder[] = "RECEIVED";
inline constexpr std::size_t kMaxOfferedName = 55;

// The part of a path after its last '/' or '\'.
std::string FileNameWithoutFolder(std::string_view path);

// A name offered from the air made safe to create inside "RECEIVED": folder parts (after the last
// '/' or '\') and a drive prefix are dropped, control characters and the characters that file
// systems refuse (< > : " | ? * and 0x98, which 1251 leaves unassigned) become '_', trailing dots
// and spaces go, device names (CON, NUL, COM1, ...) get a leading '_', and a name left empty
// (or "." / "..") becomes "noname".  Anything else is kept as offered.
std::string SafeReceiveName(std::string_view offered);

// The offered name with control characters shown as '_', for the log.
std::string VisibleName(std::string_view offered);

}  // namespace kavra::link
