// The sound devices of one direction as enumerated at start-up, and the user's choice.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "audio/sound_ports.h"

namespace kavra::audio {

inline constexpr std::size_t kMaxSoundDevices = 64;

struct SoundDeviceList {
    std::vector<SoundDeviceInfo> devices;  // at most kMaxSoundDevices
    int selected = -1;                     // -1: none

    // Takes the enumeration, keeping the first kMaxSoundDevices; selects the first device.
    void Assign(std::vector<SoundDeviceInfo> found) {
        if (found.size() > kMaxSoundDevices) found.resize(kMaxSoundDevices);
        devices = std::move(found);
        selected = devices.empty() ? -1 : 0;
    }
    bool Empty() const noexcept { return devices.empty(); }
    const SoundDeviceInfo* Selected() const noexcept {
        return selected >= 0 && selected < static_cast<int>(devices.size()) ? &devices[static_cast<std::size_t>(selected)] : nullptr;
    }
    // The first device whose description equals `description`, or -1.
    int Find(std::string_view description) const noexcept {
        for (std::size_t i = 0; i < devices.size(); ++i)
            if (devices[i].description == description) return static_cast<int>(i);
        return -1;
    }
};

}  // namespace kavra::audio
