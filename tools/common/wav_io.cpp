#include "tools/common/wav_io.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>

#include "tools/common/tool_io.h"

namespace kavra::tools {

namespace {

// libsndfile virtual I/O over a growable byte vector.
struct MemoryFile {
    std::vector<std::uint8_t>* bytes;
    sf_count_t position = 0;
};

sf_count_t Length(void* user) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes->size()); }

sf_count_t Seek(sf_count_t offset, int whence, void* user) {
    auto* f = static_cast<MemoryFile*>(user);
    sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f->position : Length(user);
    f->position = std::max<sf_count_t>(0, base + offset);
    return f->position;
}

sf_count_t Read(void* ptr, sf_count_t count, void* user) {
    auto* f = static_cast<MemoryFile*>(user);
    const sf_count_t available = std::max<sf_count_t>(0, Length(user) - f->position);
    const sf_count_t n = std::min(count, available);
    if (n > 0) std::memcpy(ptr, f->bytes->data() + f->position, static_cast<std::size_t>(n));
    f->position += n;
    return n;
}

sf_count_t Write(const void* ptr, sf_count_t count, void* user) {
    auto* f = static_cast<MemoryFile*>(user);
    const auto end = static_cast<std::size_t>(f->position + count);
    if (f->bytes->size() < end) f->bytes->resize(end);
    std::memcpy(f->bytes->data() + f->position, ptr, static_cast<std::size_t>(count));
    f->position += count;
    return count;
}

sf_count_t Tell(void* user) { return static_cast<MemoryFile*>(user)->position; }

SF_VIRTUAL_IO kMemoryIo{Length, Seek, Read, Write, Tell};

}  // namespace

WavAudio DecodeWav(const std::vector<std::uint8_t>& image, const std::string& what) {
    std::vector<std::uint8_t> copy = image;
    MemoryFile file{&copy};
    SF_INFO info{};
    SNDFILE* sf = sf_open_virtual(&kMemoryIo, SFM_READ, &info, &file);
    if (sf == nullptr) throw ToolError(what + ": not a readable WAV file (" + sf_strerror(nullptr) + ")");
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int sub = info.format & SF_FORMAT_SUBMASK;
    std::string problem;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX) problem = "is not a WAV file";
    else if (sub != SF_FORMAT_PCM_16) problem = "is not 16-bit PCM";
    else if (info.channels != 1) problem = "has " + std::to_string(info.channels) + " channels, expected 1 (mono)";
    if (!problem.empty()) {
        sf_close(sf);
        throw ToolError(what + " " + problem);
    }
    WavAudio audio;
    audio.sample_rate = info.samplerate;
    audio.samples.resize(static_cast<std::size_t>(info.frames));
    const sf_count_t got = sf_read_short(sf, audio.samples.data(), info.frames);
    sf_close(sf);
    if (got != info.frames) throw ToolError(what + ": WAV data is truncated");
    return audio;
}

std::vector<std::uint8_t> EncodeWav(std::span<const std::int16_t> samples, int sample_rate) {
    std::vector<std::uint8_t> image;
    image.reserve(samples.size() * 2 + 64);
    MemoryFile file{&image};
    SF_INFO info{};
    info.samplerate = sample_rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* sf = sf_open_virtual(&kMemoryIo, SFM_WRITE, &info, &file);
    if (sf == nullptr) throw ToolError(std::string("cannot encode WAV: ") + sf_strerror(nullptr));
    const auto frames = static_cast<sf_count_t>(samples.size());
    const sf_count_t written = sf_write_short(sf, samples.data(), frames);
    sf_close(sf);
    if (written != frames) throw ToolError("cannot encode WAV: short write");
    return image;
}

}  // namespace kavra::tools
