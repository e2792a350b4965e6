// The sound card through PortAudio (ALSA, PulseAudio through ALSA's "pulse" device, JACK on
// Linux; DirectSound and WASAPI on Windows).
//
// Devices: every device with input channels is a capture device, every device with output
// channels a playback device, at most 64 each, in PortAudio's order except that the default
// device of the direction comes first.  Description = "<host API name>: <device name>", for
// example "ALSA: pulse" or "ALSA: default"; a repeated description gets " #2", " #3" ... appended.
// The id is the description itself: CreateCapture/CreatePlayback look it up again among the
// current devices, and an empty id means the default device of the direction.
//
// Capture: a 48000 Hz mono 16-bit stream whose callback copies into the looping buffer and
// publishes the write position.  Playback: each buffer is its own output stream, opened when the
// buffer is created and started by Play; at 8000 Hz on a device that refuses that rate the burst
// is upsampled to 48000 Hz (UpsampleBy6) and played at 48000 Hz.
//
// Failures never throw: creation answers null, Start/Play false, and a device that fails (a
// stream error, the stream ending by itself) or goes silent for 5 s while running gives a
// Fault() text, which then stays; a burst on a faulty device stops counting as playing.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audio/sound_ports.h"

namespace kavra::platform {

struct PortAudioLibrary;

class PortAudioSound : public audio::SoundSystem {
public:
    PortAudioSound();   // initialises PortAudio
    ~PortAudioSound() override;  // terminates it once the last stream made here has closed

    PortAudioSound(const PortAudioSound&) = delete;
    PortAudioSound& operator=(const PortAudioSound&) = delete;

    // Empty when PortAudio started, else why not (the lists are then empty).
    std::string InitError() const;

    std::vector<audio::SoundDeviceInfo> CaptureDevices() override;
    std::vector<audio::SoundDeviceInfo> PlaybackDevices() override;
    std::unique_ptr<audio::SoundCapture> CreateCapture(const audio::SoundDeviceInfo& device) override;
    std::unique_ptr<audio::SoundPlayback> CreatePlayback(const audio::SoundDeviceInfo& device) override;

private:
    std::shared_ptr<PortAudioLibrary> library_;
};

// 8000 Hz samples to 48000 Hz: six output samples per input sample, low-pass interpolated
// (windowed sinc, about 80 dB image rejection, flat to 2.9 kHz), aligned so that output sample
// 6k is at the time of input sample k.
std::vector<std::int16_t> UpsampleBy6(std::span<const std::int16_t> samples);

}  // namespace kavra::platform
