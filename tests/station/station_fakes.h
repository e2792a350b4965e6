// Test doubles for the station's ports: a sound system with scripted devices and buffers, a
// recording keying port, a runner that records which workers run.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "audio/keying_ports.h"
#include "audio/sound_ports.h"
#include "station/workers.h"

namespace kavra::testing {

struct FakeCaptureState {
    std::vector<std::int16_t> ring = std::vector<std::int16_t>(audio::kCaptureBufferBytes / 2);
    std::uint32_t position = 0;  // bytes
    bool started = false;
    int split_at = -1;           // Lock answers two pieces split after this many samples
    std::string fault;
};

class FakeCaptureBuffer : public audio::CaptureBuffer {
public:
    explicit FakeCaptureBuffer(FakeCaptureState& s) : s_(s) {}
    bool Start() override { return s_.started = true; }
    void Stop() override { s_.started = false; }
    std::uint32_t ReadPosition() override { return s_.position; }
    audio::LockedRange Lock(std::uint32_t offset, std::uint32_t bytes) override {
        const std::size_t start = offset / 2, n = bytes / 2, size = s_.ring.size();
        std::size_t first = std::min(n, size - start);
        if (s_.split_at >= 0) first = std::min<std::size_t>(first, static_cast<std::size_t>(s_.split_at));
        // A split inside the buffer is served from a copy, as a device would hand out two pieces.
        second_.assign(s_.ring.begin() + static_cast<std::ptrdiff_t>((start + first) % size),
                       s_.ring.begin() + static_cast<std::ptrdiff_t>((start + first) % size + (n - first)));
        return {std::span<const std::int16_t>(s_.ring.data() + start, first), second_};
    }
    std::string Fault() override { return s_.fault; }

private:
    FakeCaptureState& s_;
    std::vector<std::int16_t> second_;
};

struct FakePlaybackState {
    int buffers_made = 0;
    std::size_t last_bytes = 0;
    int last_rate = 0;
    bool playing = false;
    bool never_ends = false;   // a hung device
    bool refuse_buffers = false;
    int stops = 0;
};

class FakePlaybackBuffer : public audio::PlaybackBuffer {
public:
    explicit FakePlaybackBuffer(FakePlaybackState& s) : s_(s) {}
    bool Play() override { return s_.playing = true; }
    bool IsPlaying() override { return s_.playing; }
    void Stop() override {
        ++s_.stops;
        s_.playing = false;
    }
    std::string Fault() override { return {}; }

private:
    FakePlaybackState& s_;
};

class FakeSound : public audio::SoundSystem {
public:
    std::vector<audio::SoundDeviceInfo> capture_devices{{"c0", "Card A"}, {"c1", "Card B"}};
    std::vector<audio::SoundDeviceInfo> playback_devices{{"p0", "Card A"}, {"p1", "Card B"}};
    bool fail_capture_object = false, fail_capture_buffer = false, fail_playback = false;
    FakeCaptureState capture;
    FakePlaybackState playback;
    std::vector<std::string> opened;  // "capture:ID" / "playback:ID" in order

    std::vector<audio::SoundDeviceInfo> CaptureDevices() override { return capture_devices; }
    std::vector<audio::SoundDeviceInfo> PlaybackDevices() override { return playback_devices; }
    std::unique_ptr<audio::SoundCapture> CreateCapture(const audio::SoundDeviceInfo& d) override {
        opened.push_back("capture:" + d.id);
        if (fail_capture_object) return nullptr;
        struct Capture : audio::SoundCapture {
            FakeSound& s;
            explicit Capture(FakeSound& f) : s(f) {}
            std::unique_ptr<audio::CaptureBuffer> CreateBuffer(int, std::uint32_t) override {
                if (s.fail_capture_buffer) return nullptr;
                return std::make_unique<FakeCaptureBuffer>(s.capture);
            }
        };
        return std::make_unique<Capture>(*this);
    }
    std::unique_ptr<audio::SoundPlayback> CreatePlayback(const audio::SoundDeviceInfo& d) override {
        opened.push_back("playback:" + d.id);
        if (fail_playback) return nullptr;
        struct Playback : audio::SoundPlayback {
            FakeSound& s;
            explicit Playback(FakeSound& f) : s(f) {}
            std::unique_ptr<audio::PlaybackBuffer> CreateBuffer(int rate, std::span<const std::int16_t> samples) override {
                if (s.playback.refuse_buffers) return nullptr;
                ++s.playback.buffers_made;
                s.playback.last_bytes = samples.size() * 2;
                s.playback.last_rate = rate;
                return std::make_unique<FakePlaybackBuffer>(s.playback);
            }
        };
        return std::make_unique<Playback>(*this);
    }
};

class RecordingPorts : public audio::KeyingPorts {
public:
    struct Port : audio::KeyingPort {
        RecordingPorts& r;
        int number;
        Port(RecordingPorts& p, int n) : r(p), number(n) {}
        ~Port() override { r.events.push_back("close " + std::to_string(number)); }
        bool SetLine(audio::KeyLine line, bool high) override {
            r.events.push_back(std::string(line == audio::KeyLine::Rts ? "RTS " : "DTR ") + (high ? "up" : "down"));
            return true;
        }
    };
    std::unique_ptr<audio::KeyingPort> Open(int number, const std::string& device) override {
        events.push_back("open " + std::to_string(number) + (device.empty() ? "" : " " + device));
        if (number == fail_number) return nullptr;
        return std::make_unique<Port>(*this, number);
    }
    std::vector<std::string> events;
    int fail_number = -1;
};

class RecordingRunner : public station::WorkerRunner {
public:
    void StartWorker(station::Worker w) override { events.push_back("start " + std::to_string(static_cast<int>(w))); }
    void StopWorker(station::Worker w) override { events.push_back("stop " + std::to_string(static_cast<int>(w))); }
    std::vector<std::string> events;
};

}  // namespace kavra::testing
