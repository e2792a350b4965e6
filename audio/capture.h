// Sound capture: the looping one-second buffer read 4000 bytes at a time by CaptureThread, and the
// two decimators that feed the SampleRing (every 5th or 6th sample) and the SpectrumBuffer
// (every 6th).  No filter precedes the decimation: the receiver's rate converter works on the
// ring samples as they are.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "audio/sample_ring.h"
#include "audio/sound_ports.h"
#include "audio/spectrum_buffer.h"

namespace kavra::audio {

inline constexpr std::uint32_t kCaptureChunkBytes = 4000;
inline constexpr int kSpectrumStep = 6;
// Ring decimation by modem type: 48000 / 5 = 9600 Hz (type 0), 48000 / 6 = 8000 Hz (type 1).
constexpr int RingStepFor(int modem_type) noexcept { return modem_type == 1 ? 6 : 5; }

// The two decimators.  CaptureThread only, but for the ring step, which the user-interface thread
// changes when the modem type changes (it takes effect from the next sample).
class CaptureFeed {
public:
    CaptureFeed(SampleRing& ring, SpectrumBuffer& spectrum) : ring_(ring), spectrum_(spectrum) {}

    void SetRingStep(int step) noexcept { ring_step_.store(step, std::memory_order_relaxed); }
    int RingStep() const noexcept { return ring_step_.load(std::memory_order_relaxed); }

    void Feed(std::int16_t sample) noexcept {
        if (++ring_count_ >= ring_step_.load(std::memory_order_relaxed)) {
            ring_.Push(sample);
            ring_count_ = 0;
        }
        if (++spectrum_count_ >= kSpectrumStep) {
            spectrum_.Put(sample);
            spectrum_count_ = 0;
        }
    }

private:
    SampleRing& ring_;
    SpectrumBuffer& spectrum_;
    std::atomic<int> ring_step_{5};
    int ring_count_ = 0;
    int spectrum_count_ = 0;
};

class AudioCapture {
public:
    enum class OpenResult { Ok, NoObject, NoBuffer };

    explicit AudioCapture(CaptureFeed& feed) : feed_(feed) {}
    ~AudioCapture();
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    // Creates the capture object on `device` and its looping buffer (not started yet), read
    // offset 0.  The offset is CaptureThread's from the moment that thread starts.
    OpenResult Create(SoundSystem& sound, const SoundDeviceInfo& device);
    // Starts the buffer looping: once CaptureThread runs.
    void BeginLooping();
    void StopBuffer();
    // Releases the buffer and the object: after CaptureThread has stopped.
    void Release();

    bool HasObject() const noexcept { return object_ != nullptr; }
    bool HasBuffer() const noexcept { return buffer_ != nullptr; }

    // ---- CaptureThread: at most one chunk; fed only when `receive_enabled`.  Answers whether a
    // chunk was taken.
    bool Step(bool receive_enabled) noexcept;
    std::uint32_t ReadOffset() const noexcept { return offset_; }

    // ---- user-interface thread (the buffer lives while the thread runs)
    std::string Fault() const;

private:
    CaptureFeed& feed_;
    std::unique_ptr<SoundCapture> object_;
    std::unique_ptr<CaptureBuffer> buffer_;
    std::uint32_t offset_ = 0;
};

}  // namespace kavra::audio
