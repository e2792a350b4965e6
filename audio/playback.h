// Playback: one burst at a time, each in a fresh one-shot buffer sized to it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "audio/sound_ports.h"

namespace kavra::audio {

class AudioPlayback {
public:
    AudioPlayback() = default;
    ~AudioPlayback() { Close(); }
    AudioPlayback(const AudioPlayback&) = delete;
    AudioPlayback& operator=(const AudioPlayback&) = delete;

    // Creates the playback object on `device` (releasing any earlier one); false on failure.
    bool Open(SoundSystem& sound, const SoundDeviceInfo& device);
    // Stops and releases the buffer, then the object.
    void Close();
    bool IsOpen() const noexcept { return object_ != nullptr; }

    // ---- TransmitThread
    // Plays `samples` once at `rate_hz`: 1 when playing has started, 0 when the previous burst
    // still plays (nothing done), -1 without a playback object or when the buffer cannot be made.
    int PlaySamples(std::span<const std::int16_t> samples, int rate_hz);
    // Whether the current buffer still plays; false without one.
    bool IsPlaying();
    // Stops the current buffer (a burst that overran its time).
    void StopBuffer();
    std::string Fault();
    std::size_t BufferBytes() const noexcept { return buffer_bytes_; }

private:
    std::unique_ptr<SoundPlayback> object_;
    std::unique_ptr<PlaybackBuffer> buffer_;
    std::size_t buffer_bytes_ = 0;
};

}  // namespace kavra::audio
