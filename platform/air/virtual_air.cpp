#include "platform/air/virtual_air.h"

#include <algorithm>
#include <chrono>

#include "modem/tx/serial_tone_transmitter.h"
#include "platform/air/looping_capture.h"

namespace kavra::air {

namespace {

constexpr int kMaxStations = 16;
constexpr std::size_t kSamplesPerMs = audio::kCaptureRateHz / 1000;
constexpr std::size_t kFifoLimit = 10 * kSamplesPerMs;

// Mean square of a transmission of this station's transmitter at `profile`: the channel's S/N is
// set against it.
double TransmitterPower(modem::TransmitProfile profile) {
    auto tx = std::make_unique<modem::SerialToneTransmitter>(profile);
    const auto& info = modem::ProfileInfo(profile);
    std::vector<std::uint8_t> message(650);
    for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<std::uint8_t>(i * 37 + 11);
    std::vector<std::int16_t> out(modem::SerialToneTransmitter::SamplesNeeded(profile, 4, message.size(), info.nominal_rate_hz));
    std::uint32_t count = 0;
    tx->Transmit(message, info.carrier_hz, info.nominal_rate_hz, 4, out, count);
    return sim::MeasureSignalPower(std::span<const std::int16_t>(out.data(), count));
}

double PowerAt(int rate) {
    static const double p48 = TransmitterPower(modem::TransmitProfile::Profile2400At48k);
    static const double p8 = TransmitterPower(modem::TransmitProfile::Profile2000At8k);
    return rate == 8000 ? p8 : p48;
}

}  // namespace

struct PlayState {
    std::vector<std::int16_t> samples;
    int rate = 48000;
    std::size_t position = 0;
    bool playing = false;
};

struct VirtualAir::PathState {
    AirPath path;
    std::unique_ptr<sim::HfChannel> channel;
    int input_rate = 0;
    std::uint64_t seed = 1;
    std::vector<float> fifo;
    std::uint32_t quiet_ms = 0;  // the sender has been silent this long
};

// A path without noise from a silent sender carries nothing once the channel's delay line has
// emptied: it is not computed.
constexpr std::uint32_t kQuietTailMs = 100;

// ---- the sound system one station sees

class VirtualCaptureBuffer : public audio::CaptureBuffer {
public:
    VirtualCaptureBuffer(VirtualAir& air, int index) : air_(air), index_(index) {}
    ~VirtualCaptureBuffer() override { Stop(); }
    bool Start() override;
    void Stop() override;
    std::uint32_t ReadPosition() override;
    audio::LockedRange Lock(std::uint32_t offset, std::uint32_t bytes) override;
    std::string Fault() override { return {}; }

private:
    VirtualAir& air_;
    int index_;
};

class VirtualCapture : public audio::SoundCapture {
public:
    VirtualCapture(VirtualAir& air, int index) : air_(air), index_(index) {}
    std::unique_ptr<audio::CaptureBuffer> CreateBuffer(int rate_hz, std::uint32_t bytes) override {
        if (rate_hz != audio::kCaptureRateHz || bytes != audio::kCaptureBufferBytes) return nullptr;
        return std::make_unique<VirtualCaptureBuffer>(air_, index_);
    }

private:
    VirtualAir& air_;
    int index_;
};

class VirtualPlaybackBuffer : public audio::PlaybackBuffer {
public:
    VirtualPlaybackBuffer(VirtualAir& air, int index, std::shared_ptr<PlayState> state)
        : air_(air), index_(index), state_(std::move(state)) {}
    ~VirtualPlaybackBuffer() override { Stop(); }
    bool Play() override;
    bool IsPlaying() override;
    void Stop() override;
    std::string Fault() override { return {}; }

private:
    VirtualAir& air_;
    int index_;
    std::shared_ptr<PlayState> state_;
};

class VirtualPlayback : public audio::SoundPlayback {
public:
    VirtualPlayback(VirtualAir& air, int index) : air_(air), index_(index) {}
    std::unique_ptr<audio::PlaybackBuffer> CreateBuffer(int rate_hz, std::span<const std::int16_t> samples) override {
        if (rate_hz != 48000 && rate_hz != 8000) return nullptr;
        auto state = std::make_shared<PlayState>();
        state->samples.assign(samples.begin(), samples.end());
        state->rate = rate_hz;
        return std::make_unique<VirtualPlaybackBuffer>(air_, index_, std::move(state));
    }

private:
    VirtualAir& air_;
    int index_;
};

class VirtualSound : public audio::SoundSystem {
public:
    VirtualSound(VirtualAir& air, int index, std::string name)
        : air_(air), index_(index), device_{name, "Virtual air: " + name} {}
    std::vector<audio::SoundDeviceInfo> CaptureDevices() override { return {device_}; }
    std::vector<audio::SoundDeviceInfo> PlaybackDevices() override { return {device_}; }
    std::unique_ptr<audio::SoundCapture> CreateCapture(const audio::SoundDeviceInfo& d) override {
        return d.id == device_.id ? std::make_unique<VirtualCapture>(air_, index_) : nullptr;
    }
    std::unique_ptr<audio::SoundPlayback> CreatePlayback(const audio::SoundDeviceInfo& d) override {
        return d.id == device_.id ? std::make_unique<VirtualPlayback>(air_, index_) : nullptr;
    }

private:
    VirtualAir& air_;
    int index_;
    audio::SoundDeviceInfo device_;
};

struct VirtualAir::Endpoint {
    std::unique_ptr<VirtualSound> sound;
    LoopingCapture capture;
    bool capturing = false;
    std::shared_ptr<PlayState> playing;
    int last_rate = 48000;
    bool deaf = false;
    bool off = false;
    std::uint64_t played_ms = 0;
    bool sounding = false;  // played something this millisecond
    std::chrono::steady_clock::time_point last_end{};
    std::vector<float> out;  // this millisecond's playback
};

bool VirtualCaptureBuffer::Start() {
    std::lock_guard lock(air_.mutex_);
    air_.stations_[static_cast<std::size_t>(index_)]->capturing = true;
    return true;
}

void VirtualCaptureBuffer::Stop() {
    std::lock_guard lock(air_.mutex_);
    air_.stations_[static_cast<std::size_t>(index_)]->capturing = false;
}

std::uint32_t VirtualCaptureBuffer::ReadPosition() {
    std::lock_guard lock(air_.mutex_);
    return air_.stations_[static_cast<std::size_t>(index_)]->capture.WritePosition();
}

audio::LockedRange VirtualCaptureBuffer::Lock(std::uint32_t offset, std::uint32_t bytes) {
    std::lock_guard lock(air_.mutex_);
    return air_.stations_[static_cast<std::size_t>(index_)]->capture.Lock(offset, bytes);
}

bool VirtualPlaybackBuffer::Play() {
    std::lock_guard lock(air_.mutex_);
    state_->position = 0;
    state_->playing = !state_->samples.empty();
    if (state_->playing) air_.stations_[static_cast<std::size_t>(index_)]->playing = state_;
    return true;
}

bool VirtualPlaybackBuffer::IsPlaying() {
    std::lock_guard lock(air_.mutex_);
    return state_->playing;
}

void VirtualPlaybackBuffer::Stop() {
    std::lock_guard lock(air_.mutex_);
    state_->playing = false;
    auto& e = *air_.stations_[static_cast<std::size_t>(index_)];
    if (e.playing == state_) e.playing.reset();
}

// ---- the air

VirtualAir::VirtualAir(std::uint64_t seed) : seed_(seed), paths_(kMaxStations * kMaxStations) {}

VirtualAir::~VirtualAir() = default;

audio::SoundSystem& VirtualAir::AddStation(const std::string& name) {
    std::lock_guard lock(mutex_);
    if (stations_.size() >= kMaxStations) throw std::length_error("virtual air: too many stations");
    auto e = std::make_unique<Endpoint>();
    e->sound = std::make_unique<VirtualSound>(*this, static_cast<int>(stations_.size()), name);
    stations_.push_back(std::move(e));
    return *stations_.back()->sound;
}

int VirtualAir::StationCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(stations_.size());
}

VirtualAir::PathState& VirtualAir::Path(int from, int to) {
    auto& p = paths_[static_cast<std::size_t>(from * kMaxStations + to)];
    if (!p) {
        p = std::make_unique<PathState>();
        p->seed = seed_ * 1000003u + static_cast<std::uint64_t>(from * kMaxStations + to) + 1;
    }
    return *p;
}

void VirtualAir::SetPath(int from, int to, const AirPath& path) {
    std::lock_guard lock(mutex_);
    PathState& p = Path(from, to);
    p.path = path;
    p.channel.reset();  // rebuilt with the new conditions at the next millisecond
}

void VirtualAir::SetDeaf(int station, bool deaf) {
    std::lock_guard lock(mutex_);
    stations_.at(static_cast<std::size_t>(station))->deaf = deaf;
}

void VirtualAir::SetOffAir(int station, bool off) {
    std::lock_guard lock(mutex_);
    stations_.at(static_cast<std::size_t>(station))->off = off;
}

std::uint64_t VirtualAir::PlayedMs(int station) const {
    std::lock_guard lock(mutex_);
    return stations_.at(static_cast<std::size_t>(station))->played_ms;
}

std::chrono::steady_clock::time_point VirtualAir::LastBurstEnd(int station) const {
    std::lock_guard lock(mutex_);
    return stations_.at(static_cast<std::size_t>(station))->last_end;
}

void VirtualAir::RebuildChannel(PathState& p, int input_rate) {
    sim::HfChannelSettings s;
    s.input_rate_hz = input_rate;
    s.output_rate_hz = audio::kCaptureRateHz;
    s.snr_db = p.path.snr_db;
    s.signal_power = PowerAt(input_rate);
    s.fading = p.path.fading;
    s.freq_offset_hz = p.path.freq_offset_hz;
    s.clock_offset_ppm = p.path.clock_offset_ppm;
    s.output_gain = p.path.gain;
    s.seed = p.seed++;
    p.channel = std::make_unique<sim::HfChannel>(s);
    p.input_rate = input_rate;
}

bool VirtualAir::AdvanceOneMs() {
    std::lock_guard lock(mutex_);
    // Each station's millisecond of playback at its playback rate.
    for (auto& e : stations_) {
        const int rate = e->playing ? e->playing->rate : e->last_rate;
        e->last_rate = rate;
        e->out.assign(static_cast<std::size_t>(rate / 1000), 0.0f);
        e->sounding = e->playing && !e->off;
        if (!e->playing) continue;
        PlayState& ps = *e->playing;
        const std::size_t n = std::min(e->out.size(), ps.samples.size() - ps.position);
        if (!e->off)
            for (std::size_t i = 0; i < n; ++i) e->out[i] = ps.samples[ps.position + i];
        ps.position += n;
        ++e->played_ms;
        if (ps.position >= ps.samples.size()) {
            ps.playing = false;
            e->playing.reset();
            e->last_end = std::chrono::steady_clock::now();
        }
    }
    // Each station's millisecond of capture: the sum of what it hears of every other station.
    for (std::size_t r = 0; r < stations_.size(); ++r) {
        Endpoint& rx = *stations_[r];
        // A station that hears nothing costs no channel: its paths wait until it hears again.
        if (rx.deaf || rx.off) {
            if (rx.capturing && !rx.off) {
                pcm_.assign(kSamplesPerMs, 0);
                rx.capture.Write(pcm_);
            }
            continue;
        }
        mix_.assign(kSamplesPerMs, 0.0f);
        for (std::size_t s = 0; s < stations_.size(); ++s) {
            if (s == r) continue;
            Endpoint& tx = *stations_[s];
            PathState& p = Path(static_cast<int>(s), static_cast<int>(r));
            p.quiet_ms = tx.sounding ? 0 : p.quiet_ms + 1;
            if (!p.path.snr_db && p.quiet_ms > kQuietTailMs) {
                p.fifo.clear();
                continue;
            }
            if (!p.channel || p.input_rate != tx.last_rate) RebuildChannel(p, tx.last_rate);
            scratch_out_.resize(p.channel->MaxOutput(tx.out.size()));
            const std::size_t made = p.channel->Process(std::span<const float>(tx.out), std::span<float>(scratch_out_));
            p.fifo.insert(p.fifo.end(), scratch_out_.begin(), scratch_out_.begin() + static_cast<std::ptrdiff_t>(made));
            const std::size_t take = std::min(kSamplesPerMs, p.fifo.size());
            for (std::size_t i = 0; i < take; ++i) mix_[i] += p.fifo[i];
            p.fifo.erase(p.fifo.begin(), p.fifo.begin() + static_cast<std::ptrdiff_t>(take));
            // Clock offsets make a path deliver a little more or less than a millisecond's worth:
            // keep at most 10 ms waiting.
            if (p.fifo.size() > kFifoLimit)
                p.fifo.erase(p.fifo.begin(), p.fifo.begin() + static_cast<std::ptrdiff_t>(p.fifo.size() - kFifoLimit));
        }
        if (!rx.capturing) continue;
        pcm_.resize(kSamplesPerMs);
        sim::ToPcm16(mix_, pcm_);
        rx.capture.Write(pcm_);
    }
    return true;
}

// ---- real time

AirClock::AirClock(VirtualAir& air) : air_(air) {
    thread_ = std::thread([this] {
        using clock = std::chrono::steady_clock;
        const auto start = clock::now();
        std::uint64_t done = 0;
        while (run_.load(std::memory_order_acquire)) {
            const auto due = static_cast<std::uint64_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - start).count());
            for (int i = 0; done < due && i < 100; ++i, ++done) air_.AdvanceOneMs();
            done = std::max(done, due > 100 ? due - 100 : 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}

AirClock::~AirClock() {
    run_.store(false, std::memory_order_release);
    thread_.join();
}

}  // namespace kavra::air
