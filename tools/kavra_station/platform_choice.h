// The real machine's adapters for the station program: PortAudio sound, the serial keying port and
// the settings store (the user's, or an INI file).
#pragma once

#include <memory>
#include <string>

#include "audio/keying_ports.h"
#include "audio/sound_ports.h"
#include "station/settings_store.h"

namespace kavra::tools {

// The user's settings store, or the INI file `path` (created when missing) when it is not empty.
std::unique_ptr<station::SettingsStore> MakeSettingsStore(const std::string& ini_path);
// PortAudio.
std::unique_ptr<audio::SoundSystem> MakePortAudio();
std::unique_ptr<audio::KeyingPorts> MakeSerialKeying();

}  // namespace kavra::tools
