#include "tools/kavra_station/platform_choice.h"

#include "tools/common/tool_io.h"

#if defined(KAVRA_HAVE_PLATFORM)
#include "platform/portaudio_sound.h"
#include "platform/qt_settings_store.h"
#include "platform/serial_keying.h"
#endif

namespace kavra::tools {

#if defined(KAVRA_HAVE_PLATFORM)

std::unique_ptr<station::SettingsStore> MakeSettingsStore(const std::string& ini_path) {
    if (ini_path.empty()) return std::make_unique<platform::QtSettingsStore>();
    return std::make_unique<platform::QtSettingsStore>(ini_path);
}

std::unique_ptr<audio::SoundSystem> MakePortAudio() { return std::make_unique<platform::PortAudioSound>(); }

std::unique_ptr<audio::KeyingPorts> MakeSerialKeying() { return std::make_unique<platform::SerialKeyingPorts>(); }

#else

// Built without the platform adapters: settings live for the run only, no sound card, no port.
std::unique_ptr<station::SettingsStore> MakeSettingsStore(const std::string&) {
    return std::make_unique<station::MemorySettingsStore>();
}

std::unique_ptr<audio::SoundSystem> MakePortAudio() { throw ToolError("this build has no sound-card support"); }

class NoPorts : public audio::KeyingPorts {
public:
    std::unique_ptr<audio::KeyingPort> Open(int, const std::string&) override { return nullptr; }
};
std::unique_ptr<audio::KeyingPorts> MakeSerialKeying() { return std::make_unique<NoPorts>(); }

#endif

}  // namespace kavra::tools
