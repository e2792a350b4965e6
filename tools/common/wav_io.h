// 16-bit PCM WAV files in memory, through libsndfile.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kavra::tools {

struct WavAudio {
    int sample_rate = 0;
    std::vector<std::int16_t> samples;  // mono
};

// Decodes a WAV image; throws ToolError (naming `what`, e.g. the file name) unless it is a
// 16-bit PCM mono WAV.
WavAudio DecodeWav(const std::vector<std::uint8_t>& image, const std::string& what);

// Encodes mono 16-bit PCM samples as a WAV image.
std::vector<std::uint8_t> EncodeWav(std::span<const std::int16_t> samples, int sample_rate);

}  // namespace kavra::tools
