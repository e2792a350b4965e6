// The sound card as the station core sees it: device lists, a one-second looping capture buffer
// read by position, and one-shot playback buffers with a status.  Implemented by PortAudio for the
// desktop and by the virtual, WAV and stream airs for simulations and tools (platform/).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kavra::audio {

inline constexpr int kCaptureRateHz = 48000;
inline constexpr std::uint32_t kCaptureBufferBytes = 2 * kCaptureRateHz;  // one second, 16-bit mono

struct SoundDeviceInfo {
    std::string id;           // the backend's identifier; empty = the system's default device
    std::string description;  // what the user chooses by ("host API: device name")
};

// Two pieces of a range of the looping buffer: the second is empty unless the range crosses the
// buffer's end.  Valid until the next Lock.
struct LockedRange {
    std::span<const std::int16_t> first;
    std::span<const std::int16_t> second;
};

// The looping capture buffer: kCaptureBufferBytes of 16-bit mono samples at 48000 Hz that the
// device writes round and round.  Read from CaptureThread only.
class CaptureBuffer {
public:
    virtual ~CaptureBuffer() = default;
    virtual bool Start() = 0;  // start looping
    virtual void Stop() = 0;
    // Byte offset up to which the buffer holds captured data (even, 0..size-1): the device's
    // write position.
    virtual std::uint32_t ReadPosition() = 0;
    // `bytes` from `offset` (both even), in one or two pieces.
    virtual LockedRange Lock(std::uint32_t offset, std::uint32_t bytes) = 0;
    // Why the device stopped delivering (unplugged, stream error), empty while it works.  Polled
    // by the station, which logs it once.
    virtual std::string Fault() = 0;
};

// The capture object on one device.
class SoundCapture {
public:
    virtual ~SoundCapture() = default;
    // The looping buffer at `rate_hz`, 16-bit mono, `bytes` long; none on failure.
    virtual std::unique_ptr<CaptureBuffer> CreateBuffer(int rate_hz, std::uint32_t bytes) = 0;
};

// One burst, played once from its start.  Called from TransmitThread.
class PlaybackBuffer {
public:
    virtual ~PlaybackBuffer() = default;
    virtual bool Play() = 0;
    // True from Play until the last sample has been played (false on a device fault).
    virtual bool IsPlaying() = 0;
    virtual void Stop() = 0;
    virtual std::string Fault() = 0;  // as CaptureBuffer::Fault
};

// The playback object on one device, claimed for this station.
class SoundPlayback {
public:
    virtual ~SoundPlayback() = default;
    // A one-shot buffer holding `samples` at `rate_hz` (48000 or 8000); none on failure.
    virtual std::unique_ptr<PlaybackBuffer> CreateBuffer(int rate_hz, std::span<const std::int16_t> samples) = 0;
};

class SoundSystem {
public:
    virtual ~SoundSystem() = default;
    virtual std::vector<SoundDeviceInfo> CaptureDevices() = 0;
    virtual std::vector<SoundDeviceInfo> PlaybackDevices() = 0;
    // None when the device cannot be opened.
    virtual std::unique_ptr<SoundCapture> CreateCapture(const SoundDeviceInfo& device) = 0;
    virtual std::unique_ptr<SoundPlayback> CreatePlayback(const SoundDeviceInfo& device) = 0;
};

}  // namespace kavra::audio
