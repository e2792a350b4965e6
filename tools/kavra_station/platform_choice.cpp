#include "tools/kavra_station/platform_choice.h"

#include "platform/portaudio_sound.h"
#include "platform/qt_settings_store.h"
#include "platform/serial_keying.h"

namespace kavra::tools {

std::unique_ptr<station::SettingsStore> MakeSettingsStore(const std::string& ini_path) {
    if (ini_path.empty()) return std::make_unique<platform::QtSettingsStore>();
    return std::make_unique<platform::QtSettingsStore>(ini_path);
}

std::unique_ptr<audio::SoundSystem> MakePortAudio() { return std::make_unique<platform::PortAudioSound>(); }

std::unique_ptr<audio::KeyingPorts> MakeSerialKeying() { return std::make_unique<platform::SerialKeyingPorts>(); }

}  // namespace kavra::tools
