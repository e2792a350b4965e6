#include "audio/capture.h"

namespace kavra::audio {

AudioCapture::~AudioCapture() {
    if (buffer_) buffer_->Stop();
}

AudioCapture::OpenResult AudioCapture::Create(SoundSystem& sound, const SoundDeviceInfo& device) {
    offset_ = 0;
    object_ = sound.CreateCapture(device);
    if (!object_) return OpenResult::NoObject;
    buffer_ = object_->CreateBuffer(kCaptureRateHz, kCaptureBufferBytes);
    return buffer_ ? OpenResult::Ok : OpenResult::NoBuffer;
}

void AudioCapture::BeginLooping() {
    if (buffer_) buffer_->Start();
}

void AudioCapture::StopBuffer() {
    if (buffer_) buffer_->Stop();
}

void AudioCapture::Release() {
    buffer_.reset();
    object_.reset();
}

bool AudioCapture::Step(bool receive_enabled) noexcept {
    if (!buffer_) return false;
    const std::uint32_t size = kCaptureBufferBytes;
    const std::uint32_t position = buffer_->ReadPosition() % size;
    const std::uint32_t available = position >= offset_ ? position - offset_ : position + size - offset_;
    if (available < kCaptureChunkBytes) return false;
    if (receive_enabled) {
        const LockedRange range = buffer_->Lock(offset_, kCaptureChunkBytes);
        for (const std::int16_t s : range.first) feed_.Feed(s);
        if (range.first.size() * 2 < kCaptureChunkBytes)
            for (const std::int16_t s : range.second) feed_.Feed(s);
    }
    offset_ = (offset_ + kCaptureChunkBytes) % size;
    return true;
}

std::string AudioCapture::Fault() const { return buffer_ ? buffer_->Fault() : std::string(); }

}  // namespace kavra::audio
