#include "platform/portaudio_sound.h"

#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <numbers>
#include <optional>

namespace kavra::platform {

// PortAudio's initialise/terminate pair.  Every object that owns a stream holds a reference, so
// PortAudio is terminated only after the last stream is closed, whatever order the station
// releases things in.  `calls` serialises the stream calls made from the station's threads
// (PortAudio does not promise that opening, starting and stopping streams on several threads at
// once is safe); stream callbacks never take it.
struct PortAudioLibrary {
    PortAudioLibrary() : init_error(Pa_Initialize()) {}
    ~PortAudioLibrary() {
        if (init_error == paNoError) Pa_Terminate();
    }
    PortAudioLibrary(const PortAudioLibrary&) = delete;
    PortAudioLibrary& operator=(const PortAudioLibrary&) = delete;

    const PaError init_error;
    std::mutex calls;
};

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kMaxDevices = 64;
// A running stream whose callback has not moved for this long is taken as a dead device.
constexpr Clock::duration kStallLimit = std::chrono::seconds(5);
// After the last sample was handed over, the device gets this long to play out its queue.
constexpr Clock::duration kDrainLimit = std::chrono::seconds(3);

std::string ErrorText(PaError error) { return std::string("PortAudio: ") + Pa_GetErrorText(error); }

struct Device {
    PaDeviceIndex index;
    std::string description;
};

std::vector<Device> ListDevices(bool input) {
    std::vector<Device> devices;
    const PaDeviceIndex count = Pa_GetDeviceCount();
    if (count <= 0) return devices;
    const PaDeviceIndex preferred = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
    std::vector<PaDeviceIndex> order;
    if (preferred >= 0 && preferred < count) order.push_back(preferred);
    for (PaDeviceIndex i = 0; i < count; ++i) {
        if (i != preferred) order.push_back(i);
    }
    for (PaDeviceIndex index : order) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
        if (info == nullptr || (input ? info->maxInputChannels : info->maxOutputChannels) < 1) continue;
        const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi);
        const std::string base = std::string(host != nullptr ? host->name : "?") + ": " + info->name;
        std::string description = base;
        for (int n = 2; std::any_of(devices.begin(), devices.end(),
                                    [&](const Device& d) { return d.description == description; });
             ++n) {
            description = base + " #" + std::to_string(n);
        }
        devices.push_back({index, std::move(description)});
        if (devices.size() == kMaxDevices) break;
    }
    return devices;
}

std::optional<PaDeviceIndex> FindDevice(const std::string& id, bool input) {
    const std::vector<Device> devices = ListDevices(input);
    if (id.empty()) {
        const PaDeviceIndex preferred = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
        for (const Device& d : devices) {
            if (d.index == preferred) return d.index;
        }
        return std::nullopt;
    }
    for (const Device& d : devices) {
        if (d.description == id) return d.index;
    }
    return std::nullopt;
}

PaStreamParameters MonoInt16(PaDeviceIndex device, bool input) {
    PaStreamParameters p{};
    p.device = device;
    p.channelCount = 1;
    p.sampleFormat = paInt16;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    // The high latencies: the station reads capture every 10 ms and never streams playback, so
    // robustness against underruns matters more than delay.
    p.suggestedLatency = info == nullptr ? 0.1 : (input ? info->defaultHighInputLatency : info->defaultHighOutputLatency);
    p.hostApiSpecificStreamInfo = nullptr;
    return p;
}

bool RateSupported(PaDeviceIndex device, bool input, double rate) {
    const PaStreamParameters p = MonoInt16(device, input);
    return Pa_IsFormatSupported(input ? &p : nullptr, input ? nullptr : &p, rate) == paFormatIsSupported;
}

// A fault text kept by a buffer: set once (the first cause wins), read by any thread.
class FaultText {
public:
    void Set(std::string text) {
        std::lock_guard lock(mutex_);
        if (text_.empty()) text_ = std::move(text);
    }
    std::string Get() {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    std::mutex mutex_;
    std::string text_;
};

// ---- Capture ---------------------------------------------------------------------------------

class PortAudioCaptureBuffer : public audio::CaptureBuffer {
public:
    PortAudioCaptureBuffer(std::shared_ptr<PortAudioLibrary> library, std::uint32_t bytes)
        : library_(std::move(library)), samples_(bytes / 2, 0) {}

    ~PortAudioCaptureBuffer() override {
        std::lock_guard lock(library_->calls);
        if (stream_ != nullptr) {
            if (Pa_IsStreamStopped(stream_) == 0) Pa_AbortStream(stream_);
            Pa_CloseStream(stream_);
        }
    }

    PortAudioCaptureBuffer(const PortAudioCaptureBuffer&) = delete;
    PortAudioCaptureBuffer& operator=(const PortAudioCaptureBuffer&) = delete;

    bool OpenStream(PaDeviceIndex device, int rate_hz) {
        const PaStreamParameters in = MonoInt16(device, true);
        std::lock_guard lock(library_->calls);
        if (Pa_OpenStream(&stream_, &in, nullptr, rate_hz, paFramesPerBufferUnspecified, paNoFlag, &Callback,
                          this) != paNoError) {
            stream_ = nullptr;
            return false;
        }
        Pa_SetStreamFinishedCallback(stream_, &Finished);
        return true;
    }

    bool Start() override {
        std::lock_guard lock(library_->calls);
        if (running_.load()) return true;
        finished_.store(false);
        const PaError error = Pa_StartStream(stream_);
        if (error != paNoError) {
            fault_.Set(ErrorText(error));
            return false;
        }
        seen_callbacks_ = callbacks_.load(std::memory_order_relaxed);
        seen_at_ = Clock::now();
        running_.store(true);
        return true;
    }

    void Stop() override {
        std::lock_guard lock(library_->calls);
        if (!running_.load()) return;
        running_.store(false);
        if (Pa_IsStreamStopped(stream_) == 0) Pa_AbortStream(stream_);
    }

    std::uint32_t ReadPosition() override {
        return 2 * write_sample_.load(std::memory_order_acquire);
    }

    audio::LockedRange Lock(std::uint32_t offset, std::uint32_t bytes) override {
        const std::size_t size = samples_.size();
        const std::size_t start = offset / 2;
        const std::size_t count = bytes / 2;
        if (offset % 2 != 0 || bytes % 2 != 0 || start >= size || count > size) return {};
        const std::size_t first = std::min(count, size - start);
        return {std::span<const std::int16_t>(samples_.data() + start, first),
                std::span<const std::int16_t>(samples_.data(), count - first)};
    }

    std::string Fault() override {
        if (running_.load()) {
            std::lock_guard lock(library_->calls);
            const PaError active = Pa_IsStreamActive(stream_);
            if (active < 0) {
                fault_.Set(ErrorText(active));
            } else if (active == 0 || finished_.load()) {
                fault_.Set("the capture stream stopped");
            } else {
                // Running but silent: a device that vanished without an error.
                const std::uint64_t callbacks = callbacks_.load(std::memory_order_relaxed);
                const Clock::time_point now = Clock::now();
                if (callbacks != seen_callbacks_) {
                    seen_callbacks_ = callbacks;
                    seen_at_ = now;
                } else if (now - seen_at_ >= kStallLimit) {
                    fault_.Set("no audio from the capture device");
                }
            }
        }
        return fault_.Get();
    }

private:
    // PortAudio's thread: copies the block into the looping buffer and publishes the new write
    // position.  No waiting, no allocation.
    static int Callback(const void* input, void* /*output*/, unsigned long frames,
                        const PaStreamCallbackTimeInfo* /*time*/, PaStreamCallbackFlags /*flags*/, void* user) {
        auto* self = static_cast<PortAudioCaptureBuffer*>(user);
        const auto* in = static_cast<const std::int16_t*>(input);
        const std::size_t size = self->samples_.size();
        std::size_t position = self->write_sample_.load(std::memory_order_relaxed);
        std::size_t left = frames;
        while (left > 0) {
            const std::size_t n = std::min(left, size - position);
            std::int16_t* to = self->samples_.data() + position;
            if (in != nullptr) {
                std::copy(in, in + n, to);
                in += n;
            } else {
                std::fill(to, to + n, std::int16_t{0});
            }
            position += n;
            if (position == size) position = 0;
            left -= n;
        }
        self->write_sample_.store(static_cast<std::uint32_t>(position), std::memory_order_release);
        self->callbacks_.fetch_add(1, std::memory_order_relaxed);
        return paContinue;
    }

    static void Finished(void* user) { static_cast<PortAudioCaptureBuffer*>(user)->finished_.store(true); }

    std::shared_ptr<PortAudioLibrary> library_;
    std::vector<std::int16_t> samples_;
    PaStream* stream_ = nullptr;
    std::atomic<std::uint32_t> write_sample_{0};  // written by the callback only
    std::atomic<std::uint64_t> callbacks_{0};
    std::atomic<bool> finished_{false};
    std::atomic<bool> running_{false};
    FaultText fault_;
    // The stall watch, under library_->calls.
    std::uint64_t seen_callbacks_ = 0;
    Clock::time_point seen_at_{};
};

class PortAudioCapture : public audio::SoundCapture {
public:
    PortAudioCapture(std::shared_ptr<PortAudioLibrary> library, PaDeviceIndex device)
        : library_(std::move(library)), device_(device) {}

    std::unique_ptr<audio::CaptureBuffer> CreateBuffer(int rate_hz, std::uint32_t bytes) override {
        if (rate_hz <= 0 || bytes < 2 || bytes % 2 != 0) return nullptr;
        auto buffer = std::make_unique<PortAudioCaptureBuffer>(library_, bytes);
        if (!buffer->OpenStream(device_, rate_hz)) return nullptr;
        return buffer;
    }

private:
    std::shared_ptr<PortAudioLibrary> library_;
    PaDeviceIndex device_;
};

// ---- Playback --------------------------------------------------------------------------------

class PortAudioPlaybackBuffer : public audio::PlaybackBuffer {
public:
    PortAudioPlaybackBuffer(std::shared_ptr<PortAudioLibrary> library, std::vector<std::int16_t> samples)
        : library_(std::move(library)), samples_(std::move(samples)) {}

    ~PortAudioPlaybackBuffer() override {
        std::lock_guard lock(library_->calls);
        if (stream_ != nullptr) {
            if (Pa_IsStreamStopped(stream_) == 0) Pa_AbortStream(stream_);
            Pa_CloseStream(stream_);
        }
    }

    PortAudioPlaybackBuffer(const PortAudioPlaybackBuffer&) = delete;
    PortAudioPlaybackBuffer& operator=(const PortAudioPlaybackBuffer&) = delete;

    bool OpenStream(PaDeviceIndex device, int rate_hz) {
        const PaStreamParameters out = MonoInt16(device, false);
        std::lock_guard lock(library_->calls);
        if (Pa_OpenStream(&stream_, nullptr, &out, rate_hz, paFramesPerBufferUnspecified, paNoFlag, &Callback,
                          this) != paNoError) {
            stream_ = nullptr;
            return false;
        }
        Pa_SetStreamFinishedCallback(stream_, &Finished);
        // When the callback completes, what is still queued in the host's buffer is not always
        // played (ALSA's pulse device drops it): follow the burst with that much silence and a
        // little more, so that the burst's last sample is out when the stream ends.
        const PaStreamInfo* info = Pa_GetStreamInfo(stream_);
        const double queued_s = (info != nullptr ? info->outputLatency : 0.1) + 0.05;
        tail_ = static_cast<std::size_t>(std::ceil(queued_s * rate_hz));
        return true;
    }

    bool Play() override {
        std::lock_guard lock(library_->calls);
        if (Pa_IsStreamStopped(stream_) == 0) Pa_AbortStream(stream_);
        next_.store(0);
        completed_.store(false);
        finished_.store(false);
        const PaError error = Pa_StartStream(stream_);
        if (error != paNoError) {
            fault_.Set(ErrorText(error));
            playing_ = false;
            return false;
        }
        playing_ = true;
        seen_next_ = 0;
        seen_at_ = Clock::now();
        completed_seen_ = false;
        return true;
    }

    bool IsPlaying() override {
        if (!playing_) return false;
        if (finished_.load()) return Ended();
        PaError active;
        {
            std::lock_guard lock(library_->calls);
            active = Pa_IsStreamActive(stream_);
        }
        if (active < 0) {
            fault_.Set(ErrorText(active));
            playing_ = false;
            return false;
        }
        if (active == 0) return Ended();
        const Clock::time_point now = Clock::now();
        if (completed_.load()) {
            // Every sample is with the device; give it a bounded time to play them out.
            if (!completed_seen_) {
                completed_seen_ = true;
                completed_at_ = now;
            } else if (now - completed_at_ >= kDrainLimit) {
                playing_ = false;
            }
            return playing_;
        }
        const std::size_t next = next_.load(std::memory_order_relaxed);
        if (next != seen_next_) {
            seen_next_ = next;
            seen_at_ = now;
        } else if (now - seen_at_ >= kStallLimit) {
            fault_.Set("the playback device stopped taking samples");
            playing_ = false;
        }
        return playing_;
    }

    void Stop() override {
        std::lock_guard lock(library_->calls);
        playing_ = false;
        if (Pa_IsStreamStopped(stream_) == 0) Pa_AbortStream(stream_);
    }

    std::string Fault() override { return fault_.Get(); }

private:
    // The stream went inactive: fine when the callback had handed over the last sample.
    bool Ended() {
        if (!completed_.load()) fault_.Set("the playback stream stopped before the end of the burst");
        playing_ = false;
        return false;
    }

    // PortAudio's thread: the next samples of the burst, then the silent tail, then complete.
    static int Callback(const void* /*input*/, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo* /*time*/, PaStreamCallbackFlags /*flags*/, void* user) {
        auto* self = static_cast<PortAudioPlaybackBuffer*>(user);
        auto* out = static_cast<std::int16_t*>(output);
        const std::size_t size = self->samples_.size();
        const std::size_t next = self->next_.load(std::memory_order_relaxed);
        const std::size_t n = next < size ? std::min<std::size_t>(frames, size - next) : 0;
        std::copy(self->samples_.begin() + static_cast<std::ptrdiff_t>(next),
                  self->samples_.begin() + static_cast<std::ptrdiff_t>(next + n), out);
        std::fill(out + n, out + frames, std::int16_t{0});
        const std::size_t end = size + self->tail_;
        const std::size_t moved = std::min<std::size_t>(end, next + frames);
        self->next_.store(moved, std::memory_order_relaxed);
        if (moved < end) return paContinue;
        self->completed_.store(true);
        return paComplete;
    }

    static void Finished(void* user) { static_cast<PortAudioPlaybackBuffer*>(user)->finished_.store(true); }

    std::shared_ptr<PortAudioLibrary> library_;
    const std::vector<std::int16_t> samples_;
    PaStream* stream_ = nullptr;
    std::size_t tail_ = 0;                   // silent samples after the burst
    std::atomic<std::size_t> next_{0};       // the callback's position in the burst and its tail
    std::atomic<bool> completed_{false};     // the callback has handed over the tail's end
    std::atomic<bool> finished_{false};      // the stream went inactive
    FaultText fault_;
    // TransmitThread's view (Play, IsPlaying, Stop).
    bool playing_ = false;
    std::size_t seen_next_ = 0;
    Clock::time_point seen_at_{};
    bool completed_seen_ = false;
    Clock::time_point completed_at_{};
};

class PortAudioPlayback : public audio::SoundPlayback {
public:
    PortAudioPlayback(std::shared_ptr<PortAudioLibrary> library, PaDeviceIndex device)
        : library_(std::move(library)), device_(device) {}

    std::unique_ptr<audio::PlaybackBuffer> CreateBuffer(int rate_hz, std::span<const std::int16_t> samples) override {
        if (rate_hz <= 0) return nullptr;
        int play_rate = rate_hz;
        std::vector<std::int16_t> copy;
        if (Supported(rate_hz)) {
            copy.assign(samples.begin(), samples.end());
        } else if (rate_hz == 8000 && Supported(48000)) {
            copy = UpsampleBy6(samples);
            play_rate = 48000;
        } else {
            return nullptr;
        }
        auto buffer = std::make_unique<PortAudioPlaybackBuffer>(library_, std::move(copy));
        if (!buffer->OpenStream(device_, play_rate)) return nullptr;
        return buffer;
    }

private:
    // Asked once per rate: the check opens the device.
    bool Supported(int rate_hz) {
        for (const auto& [rate, ok] : checked_) {
            if (rate == rate_hz) return ok;
        }
        bool ok;
        {
            std::lock_guard lock(library_->calls);
            ok = RateSupported(device_, false, rate_hz);
        }
        checked_.emplace_back(rate_hz, ok);
        return ok;
    }

    std::shared_ptr<PortAudioLibrary> library_;
    PaDeviceIndex device_;
    std::vector<std::pair<int, bool>> checked_;
};

}  // namespace

// ---- The system --------------------------------------------------------------------------------

PortAudioSound::PortAudioSound() : library_(std::make_shared<PortAudioLibrary>()) {}

PortAudioSound::~PortAudioSound() = default;

std::string PortAudioSound::InitError() const {
    return library_->init_error == paNoError ? std::string() : ErrorText(library_->init_error);
}

std::vector<audio::SoundDeviceInfo> PortAudioSound::CaptureDevices() {
    std::vector<audio::SoundDeviceInfo> list;
    if (library_->init_error != paNoError) return list;
    std::lock_guard lock(library_->calls);
    for (Device& d : ListDevices(true)) list.push_back({d.description, d.description});
    return list;
}

std::vector<audio::SoundDeviceInfo> PortAudioSound::PlaybackDevices() {
    std::vector<audio::SoundDeviceInfo> list;
    if (library_->init_error != paNoError) return list;
    std::lock_guard lock(library_->calls);
    for (Device& d : ListDevices(false)) list.push_back({d.description, d.description});
    return list;
}

std::unique_ptr<audio::SoundCapture> PortAudioSound::CreateCapture(const audio::SoundDeviceInfo& device) {
    if (library_->init_error != paNoError) return nullptr;
    std::lock_guard lock(library_->calls);
    const std::optional<PaDeviceIndex> index = FindDevice(device.id, true);
    if (!index || !RateSupported(*index, true, audio::kCaptureRateHz)) return nullptr;
    return std::make_unique<PortAudioCapture>(library_, *index);
}

std::unique_ptr<audio::SoundPlayback> PortAudioSound::CreatePlayback(const audio::SoundDeviceInfo& device) {
    if (library_->init_error != paNoError) return nullptr;
    std::lock_guard lock(library_->calls);
    const std::optional<PaDeviceIndex> index = FindDevice(device.id, false);
    if (!index) return nullptr;
    return std::make_unique<PortAudioPlayback>(library_, *index);
}

// ---- 8000 -> 48000 Hz ---------------------------------------------------------------------------

std::vector<std::int16_t> UpsampleBy6(std::span<const std::int16_t> samples) {
    // Kaiser-windowed sinc at 48000 Hz: cut-off 3700 Hz, 193 taps (about 32 per phase), beta 8;
    // the gain of 6 restores the level lost to the inserted zeros.
    constexpr int kFactor = 6;
    constexpr int kTaps = 193;
    constexpr int kDelay = (kTaps - 1) / 2;
    constexpr double kCutoff = 3700.0 / 48000.0;
    constexpr double kBeta = 8.0;
    auto bessel_i0 = [](double x) {
        double sum = 1.0;
        double term = 1.0;
        for (int k = 1; k < 40; ++k) {
            term *= (x / (2.0 * k)) * (x / (2.0 * k));
            sum += term;
        }
        return sum;
    };
    std::vector<float> taps(kTaps);
    for (int k = 0; k < kTaps; ++k) {
        const double t = k - kDelay;
        const double sinc = t == 0 ? 2.0 * kCutoff
                                   : std::sin(2.0 * std::numbers::pi * kCutoff * t) / (std::numbers::pi * t);
        const double r = t / kDelay;
        const double window = bessel_i0(kBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / bessel_i0(kBeta);
        taps[static_cast<std::size_t>(k)] = static_cast<float>(kFactor * sinc * window);
    }

    const std::ptrdiff_t inputs = static_cast<std::ptrdiff_t>(samples.size());
    std::vector<std::int16_t> out(samples.size() * kFactor);
    for (std::ptrdiff_t m = 0; m < static_cast<std::ptrdiff_t>(out.size()); ++m) {
        // Output m sees the zero-stuffed input at m + kDelay - k; only every sixth k meets a sample.
        const std::ptrdiff_t at = m + kDelay;
        float sum = 0.0f;
        for (std::ptrdiff_t k = at % kFactor; k < kTaps; k += kFactor) {
            const std::ptrdiff_t input = (at - k) / kFactor;
            if (input < 0) break;
            if (input < inputs) sum += taps[static_cast<std::size_t>(k)] * static_cast<float>(samples[static_cast<std::size_t>(input)]);
        }
        out[static_cast<std::size_t>(m)] = static_cast<std::int16_t>(std::lround(std::clamp(sum, -32768.0f, 32767.0f)));
    }
    return out;
}

}  // namespace kavra::platform
