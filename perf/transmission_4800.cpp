#include "perf/transmission_4800.h"

#include <memory>

#include "modem/common/channel_patterns.h"
#include "modem/common/data_scrambler.h"
#include "modem/common/end_of_message.h"
#include "modem/common/symbols.h"
#include "modem/tx/waveform_synthesizer.h"

namespace kavra::perf {

namespace {

constexpr int kD1 = 7;
constexpr int kD2 = 6;
constexpr int kGroups = 3;           // 480-symbol groups per block
constexpr int kFrames = 10;          // frames per group
constexpr int kDataSymbols = 32;
constexpr int kKnownSymbols = 16;
constexpr int kSamplesPerSymbol = 20;  // 48000 / 2400

}  // namespace

std::vector<std::int16_t> Transmit4800(std::span<const std::uint8_t> message, int segments) {
    const std::size_t total = message.size() + modem::kEomTrailerBytes;
    const std::size_t blocks = total / kBytesPerBlock4800 + 1;
    const std::size_t symbols = static_cast<std::size_t>(segments) * 480 + blocks * kGroups * 480;

    std::vector<std::int16_t> samples(symbols * kSamplesPerSymbol + 64);
    auto synth = std::make_unique<modem::WaveformSynthesizer>(modem::TransmitProfile::Profile2400At48k);
    synth->SetUp(1800, 48000, samples);

    for (int n = segments - 1; n >= 0; --n)
        for (std::uint8_t channel_symbol : modem::PreambleSegment(kD1, kD2, n))
            for (std::uint8_t s : modem::kChannelSymbolPatterns[channel_symbol]) synth->SendSymbol(s);

    auto byte_at = [&](std::size_t i) -> unsigned {
        if (i < message.size()) return message[i];
        if (i < total) return modem::kEomBytes[(i - message.size()) % modem::kEomBytes.size()];
        return 0;
    };
    modem::DataScrambler scrambler;
    std::size_t bit = 0;  // over the whole data stream
    auto next_bit = [&] {
        const unsigned b = (byte_at(bit / 8) >> (bit % 8)) & 1u;
        ++bit;
        return static_cast<int>(b);
    };
    for (std::size_t block = 0; block < blocks; ++block) {
        for (int group = 0; group < kGroups; ++group) {
            scrambler.Reset();
            for (int frame = 0; frame < kFrames; ++frame) {
                for (int d = 0; d < kDataSymbols; ++d) {
                    int tribit = next_bit();
                    tribit = (tribit << 1) | next_bit();
                    tribit = (tribit << 1) | next_bit();
                    synth->SendSymbol((modem::kTribitMap[static_cast<std::size_t>(tribit)] + scrambler.Next()) & 7);
                }
                const bool last_group = group + 1 == kGroups;
                const bool probe = last_group && frame >= kFrames - 2;
                const auto& pattern = modem::kProbePatterns[frame == kFrames - 2 ? kD1 : kD2];
                for (int k = 0; k < kKnownSymbols; ++k)
                    synth->SendSymbol(((probe ? pattern[static_cast<std::size_t>(k)] : 0) + scrambler.Next()) & 7);
            }
        }
    }
    samples.resize(synth->sample_count());
    return samples;
}

}  // namespace kavra::perf
