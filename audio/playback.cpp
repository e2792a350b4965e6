#include "audio/playback.h"

namespace kavra::audio {

bool AudioPlayback::Open(SoundSystem& sound, const SoundDeviceInfo& device) {
    Close();
    object_ = sound.CreatePlayback(device);
    return object_ != nullptr;
}

void AudioPlayback::Close() {
    if (buffer_) buffer_->Stop();
    buffer_.reset();
    buffer_bytes_ = 0;
    object_.reset();
}

int AudioPlayback::PlaySamples(std::span<const std::int16_t> samples, int rate_hz) {
    if (!object_) return -1;
    if (buffer_) {
        if (buffer_->IsPlaying()) return 0;
        buffer_.reset();
        buffer_bytes_ = 0;
    }
    buffer_ = object_->CreateBuffer(rate_hz, samples);
    if (!buffer_) return -1;
    buffer_bytes_ = samples.size() * 2;
    buffer_->Play();
    return 1;
}

bool AudioPlayback::IsPlaying() { return buffer_ && buffer_->IsPlaying(); }

void AudioPlayback::StopBuffer() {
    if (buffer_) buffer_->Stop();
}

std::string AudioPlayback::Fault() { return buffer_ ? buffer_->Fault() : std::string(); }

}  // namespace kavra::audio
