#include "platform/air/file_air.h"

#include "platform/air/looping_capture.h"

#include <algorithm>

namespace kavra::air {

namespace {
constexpr std::size_t kSamplesPerMs = audio::kCaptureRateHz / 1000;
}  // namespace

// The looping capture buffer (virtual time: one thread, no locking needed).
struct FileAir::Capture {
    LoopingCapture loop;
    bool running = false;
    bool exists = false;
};

struct FileAir::Playing {
    std::vector<std::int16_t> samples;
    int rate = 48000;
    std::size_t position = 0;
    bool playing = false;
};

namespace {

class FileCaptureBuffer : public audio::CaptureBuffer {
public:
    explicit FileCaptureBuffer(FileAir::Capture& c) : c_(c) { c_.exists = true; }
    ~FileCaptureBuffer() override {
        c_.running = false;
        c_.exists = false;
    }
    bool Start() override { return c_.running = true; }
    void Stop() override { c_.running = false; }
    std::uint32_t ReadPosition() override { return c_.loop.WritePosition(); }
    audio::LockedRange Lock(std::uint32_t offset, std::uint32_t bytes) override { return c_.loop.Lock(offset, bytes); }
    std::string Fault() override { return {}; }

private:
    FileAir::Capture& c_;
};

class FileCapture : public audio::SoundCapture {
public:
    explicit FileCapture(FileAir::Capture& c) : c_(c) {}
    std::unique_ptr<audio::CaptureBuffer> CreateBuffer(int rate_hz, std::uint32_t bytes) override {
        if (rate_hz != audio::kCaptureRateHz || bytes != audio::kCaptureBufferBytes || c_.exists) return nullptr;
        return std::make_unique<FileCaptureBuffer>(c_);
    }

private:
    FileAir::Capture& c_;
};

class FilePlaybackBuffer : public audio::PlaybackBuffer {
public:
    FilePlaybackBuffer(FileAir::Playing& p, std::span<const std::int16_t> samples, int rate) : p_(p) {
        p_.samples.assign(samples.begin(), samples.end());
        p_.rate = rate;
        p_.position = 0;
        p_.playing = false;
    }
    ~FilePlaybackBuffer() override { p_.playing = false; }
    bool Play() override {
        p_.position = 0;
        p_.playing = !p_.samples.empty();
        return true;
    }
    bool IsPlaying() override { return p_.playing; }
    void Stop() override { p_.playing = false; }
    std::string Fault() override { return {}; }

private:
    FileAir::Playing& p_;
};

class FilePlayback : public audio::SoundPlayback {
public:
    explicit FilePlayback(FileAir::Playing& p) : p_(p) {}
    std::unique_ptr<audio::PlaybackBuffer> CreateBuffer(int rate_hz, std::span<const std::int16_t> samples) override {
        if (rate_hz != 48000 && rate_hz != 8000) return nullptr;
        return std::make_unique<FilePlaybackBuffer>(p_, samples, rate_hz);
    }

private:
    FileAir::Playing& p_;
};

}  // namespace

FileAir::FileAir(std::string capture_name, SampleSource source, std::string playback_name, SampleSink sink)
    : capture_name_(std::move(capture_name)),
      playback_name_(std::move(playback_name)),
      source_(std::move(source)),
      sink_(std::move(sink)),
      block_in_(kBlockMs * kSamplesPerMs, 0),
      capture_(std::make_unique<Capture>()),
      playing_(std::make_unique<Playing>()) {}

FileAir::~FileAir() = default;

std::vector<audio::SoundDeviceInfo> FileAir::CaptureDevices() { return {{"capture", capture_name_}}; }
std::vector<audio::SoundDeviceInfo> FileAir::PlaybackDevices() { return {{"playback", playback_name_}}; }

std::unique_ptr<audio::SoundCapture> FileAir::CreateCapture(const audio::SoundDeviceInfo& device) {
    return device.id == "capture" ? std::make_unique<FileCapture>(*capture_) : nullptr;
}

std::unique_ptr<audio::SoundPlayback> FileAir::CreatePlayback(const audio::SoundDeviceInfo& device) {
    return device.id == "playback" ? std::make_unique<FilePlayback>(*playing_) : nullptr;
}

bool FileAir::AdvanceOneMs() {
    if (ended_) return false;
    const std::size_t slot = static_cast<std::size_t>(now_ms_ % kBlockMs);
    // Capture: this millisecond of the block read at the last block boundary.
    if (capture_->running) {
        capture_->loop.Write(std::span<const std::int16_t>(block_in_).subspan(slot * kSamplesPerMs, kSamplesPerMs));
    }
    // Playback: this millisecond of the burst, or silence.
    const std::size_t per_ms = static_cast<std::size_t>(playback_rate_ / 1000);
    for (std::size_t i = 0; i < per_ms; ++i) {
        std::int16_t v = 0;
        if (playing_->playing) {
            v = playing_->samples[playing_->position++];
            if (playing_->position >= playing_->samples.size()) playing_->playing = false;
        }
        block_out_.push_back(v);
    }
    ++now_ms_;
    if (now_ms_ % kBlockMs == 0 && !EndBlock()) ended_ = true;
    return !ended_;
}

// The end of a 10 ms block: the played block out, then the next block in.
bool FileAir::EndBlock() {
    if (!Flush()) return false;
    std::fill(block_in_.begin(), block_in_.end(), std::int16_t{0});
    return source_(block_in_) == block_in_.size();
}

bool FileAir::Flush() {
    if (block_out_.empty()) return true;
    const bool ok = sink_(block_out_);
    block_out_.clear();
    return ok;
}

}  // namespace kavra::air
