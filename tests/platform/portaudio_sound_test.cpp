#include "platform/portaudio_sound.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <numeric>
#include <set>
#include <thread>

namespace kavra::platform {
namespace {

using namespace std::chrono_literals;

std::vector<std::int16_t> Tone(double hz, int rate, std::size_t count, double amplitude) {
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate)));
    }
    return samples;
}

// Works with no sound card and no sound server as well (the lists are then empty).
TEST(PortAudioSound, ListsDevicesUnderUniqueDescriptions) {
    PortAudioSound sound;
    EXPECT_EQ(sound.InitError(), "");
    for (const auto& list : {sound.CaptureDevices(), sound.PlaybackDevices()}) {
        EXPECT_LE(list.size(), 64u);
        std::set<std::string> seen;
        for (const audio::SoundDeviceInfo& device : list) {
            EXPECT_NE(device.description.find(": "), std::string::npos) << device.description;
            EXPECT_EQ(device.id, device.description);
            EXPECT_TRUE(seen.insert(device.description).second) << device.description;
        }
    }
    EXPECT_EQ(sound.CreateCapture({"ALSA: no such device", "ALSA: no such device"}), nullptr);
    EXPECT_EQ(sound.CreatePlayback({"ALSA: no such device", "ALSA: no such device"}), nullptr);
}

TEST(PortAudioSound, UpsamplingKeepsTheToneAndDropsTheImages) {
    EXPECT_TRUE(UpsampleBy6({}).empty());
    // 1800 Hz at 8000 Hz: the 48000 Hz result matches the same tone sampled at 48000 Hz, sample
    // for sample (its images at 6200 and 9800 Hz would show as large differences).
    const auto low = Tone(1800, 8000, 800, 16000);
    const auto high = UpsampleBy6(low);
    ASSERT_EQ(high.size(), 6 * low.size());
    const auto ideal = Tone(1800, 48000, high.size(), 16000);
    int worst = 0;
    for (std::size_t i = 600; i + 600 < high.size(); ++i) {  // away from the edges
        worst = std::max(worst, std::abs(high[i] - ideal[i]));
    }
    EXPECT_LT(worst, 16) << "about -60 dB of the amplitude";
    // Full scale overshoots at the edges and is clipped there, not wrapped round.
    std::vector<std::int16_t> square;
    for (int run = 0; run < 8; ++run) square.insert(square.end(), 20, run % 2 == 0 ? 32767 : -32768);
    const auto clipped = UpsampleBy6(square);
    for (std::size_t i = 0; i < clipped.size(); ++i) {
        const std::size_t in_run = (i / 6) % 20;
        if (in_run < 2 || in_run >= 18) continue;  // the transitions themselves
        const bool positive = (i / 6 / 20) % 2 == 0;
        EXPECT_EQ(clipped[i] > 20000, positive) << i;
        EXPECT_EQ(clipped[i] < -20000, !positive) << i;
    }
}

// The rest needs a running sound server reachable through ALSA's "pulse" device (PortAudio lists
// it only then), and runs only when PULSE_SOURCE / PULSE_SINK name where to capture and play, so
// that a desktop's microphone and speakers are left alone; scripts/pulse-test.sh runs these
// against a private PulseAudio.
std::string PulseDevice(const std::vector<audio::SoundDeviceInfo>& list) {
    for (const auto& device : list) {
        if (device.description == "ALSA: pulse") return device.id;
    }
    return {};
}

TEST(PortAudioSoundOnServer, CaptureFillsTheLoopingBuffer) {
    if (std::getenv("PULSE_SOURCE") == nullptr) GTEST_SKIP() << "PULSE_SOURCE not set";
    PortAudioSound sound;
    const std::string id = PulseDevice(sound.CaptureDevices());
    if (id.empty()) GTEST_SKIP() << "no sound server";
    auto capture = sound.CreateCapture({id, id});
    ASSERT_NE(capture, nullptr);
    auto buffer = capture->CreateBuffer(audio::kCaptureRateHz, audio::kCaptureBufferBytes);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->ReadPosition(), 0u);
    ASSERT_TRUE(buffer->Start());
    std::this_thread::sleep_for(700ms);
    const std::uint32_t position = buffer->ReadPosition();
    EXPECT_EQ(buffer->Fault(), "");
    buffer->Stop();
    EXPECT_GT(position, 2u * 48000 / 10) << "at least 0.1 s captured";
    EXPECT_LT(position, audio::kCaptureBufferBytes);
    EXPECT_EQ(position % 2, 0u);
    // A range that crosses the end comes in two pieces.
    const audio::LockedRange range = buffer->Lock(audio::kCaptureBufferBytes - 1000, 4000);
    EXPECT_EQ(range.first.size(), 500u);
    EXPECT_EQ(range.second.size(), 1500u);
    // With a tone playing into the captured source (pulse-test.sh sets KAVRA_EXPECT_TONE), the
    // samples carry it.
    if (std::getenv("KAVRA_EXPECT_TONE") != nullptr) {
        const audio::LockedRange got = buffer->Lock(0, position);
        const int peak = std::transform_reduce(got.first.begin(), got.first.end(), 0,
                                               [](int a, int b) { return std::max(a, b); },
                                               [](std::int16_t s) { return std::abs(int{s}); });
        EXPECT_GT(peak, 1000);
    }
}

TEST(PortAudioSoundOnServer, BurstsPlayOnceAndEnd) {
    if (std::getenv("PULSE_SINK") == nullptr) GTEST_SKIP() << "PULSE_SINK not set";
    PortAudioSound sound;
    const std::string id = PulseDevice(sound.PlaybackDevices());
    if (id.empty()) GTEST_SKIP() << "no sound server";
    auto playback = sound.CreatePlayback({id, id});
    ASSERT_NE(playback, nullptr);
    for (int rate : {48000, 8000}) {
        SCOPED_TRACE(rate);
        const auto burst = Tone(1000, rate, static_cast<std::size_t>(rate / 2), 10000);  // 0.5 s
        auto buffer = playback->CreateBuffer(rate, burst);
        ASSERT_NE(buffer, nullptr);
        EXPECT_FALSE(buffer->IsPlaying());
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(buffer->Play());
        while (buffer->IsPlaying() && std::chrono::steady_clock::now() - start < 5s) {
            std::this_thread::sleep_for(1ms);
        }
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_FALSE(buffer->IsPlaying());
        EXPECT_EQ(buffer->Fault(), "");
        EXPECT_GE(took, 400ms);  // the server may call it played a block early
        EXPECT_LT(took, 2s);
    }
    // Destroying a buffer while it plays stops it.
    const auto long_burst = Tone(1000, 48000, 5 * 48000, 10000);
    auto buffer = playback->CreateBuffer(48000, long_burst);
    ASSERT_NE(buffer, nullptr);
    ASSERT_TRUE(buffer->Play());
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(buffer->IsPlaying());
    buffer.reset();
}

// Both adapters together, the way two stations meet: a burst played into a sink comes back
// sample for sample from its monitor.  Runs when PULSE_SOURCE is the monitor of PULSE_SINK.
TEST(PortAudioSoundOnServer, APlayedBurstIsCapturedUnchanged) {
    const char* sink = std::getenv("PULSE_SINK");
    const char* source = std::getenv("PULSE_SOURCE");
    if (sink == nullptr || source == nullptr || std::string(source) != std::string(sink) + ".monitor") {
        GTEST_SKIP() << "needs PULSE_SOURCE=<PULSE_SINK>.monitor";
    }
    PortAudioSound sound;
    const std::string id = PulseDevice(sound.CaptureDevices());
    if (id.empty()) GTEST_SKIP() << "no sound server";
    auto capture = sound.CreateCapture({id, id});
    auto playback = sound.CreatePlayback({id, id});
    ASSERT_NE(capture, nullptr);
    ASSERT_NE(playback, nullptr);
    auto looping = capture->CreateBuffer(audio::kCaptureRateHz, audio::kCaptureBufferBytes);
    ASSERT_NE(looping, nullptr);

    std::vector<std::int16_t> burst(24000);  // 0.5 s of noise
    std::uint32_t state = 12345;
    for (std::int16_t& s : burst) {
        state = state * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>(static_cast<int>(state >> 16) % 24001 - 12000);
    }
    auto buffer = playback->CreateBuffer(48000, burst);
    ASSERT_NE(buffer, nullptr);

    // Read the looping buffer as the station does, 10 ms apart, for 0.3 s before and after.
    std::vector<std::int16_t> heard;
    std::uint32_t offset = 0;
    auto take = [&] {
        const std::uint32_t position = looping->ReadPosition();
        const std::uint32_t bytes = (position + audio::kCaptureBufferBytes - offset) % audio::kCaptureBufferBytes;
        const audio::LockedRange range = looping->Lock(offset, bytes);
        heard.insert(heard.end(), range.first.begin(), range.first.end());
        heard.insert(heard.end(), range.second.begin(), range.second.end());
        offset = position;
    };
    ASSERT_TRUE(looping->Start());
    const auto start = std::chrono::steady_clock::now();
    bool played = false;
    auto ended = start;
    while (std::chrono::steady_clock::now() - start < 5s) {
        std::this_thread::sleep_for(10ms);
        take();
        const auto now = std::chrono::steady_clock::now();
        if (!played && now - start >= 300ms) {
            ASSERT_TRUE(buffer->Play());
            played = true;
        } else if (played && buffer->IsPlaying()) {
            ended = now;
        } else if (played && now - ended >= 300ms) {
            break;
        }
    }
    looping->Stop();
    EXPECT_EQ(looping->Fault(), "");
    EXPECT_EQ(buffer->Fault(), "");

    const auto found = std::search(heard.begin(), heard.end(), burst.begin(), burst.begin() + 32);
    ASSERT_NE(found, heard.end()) << "the start of the burst was not heard in " << heard.size() << " samples";
    ASSERT_GE(heard.end() - found, static_cast<std::ptrdiff_t>(burst.size()));
    const auto [mine, theirs] = std::mismatch(burst.begin(), burst.end(), found);
    EXPECT_EQ(mine, burst.end()) << "first difference at sample " << (mine - burst.begin()) << ": played "
                                 << *mine << ", heard " << *theirs;
}

}  // namespace
}  // namespace kavra::platform
