#include "modem/tx/serial_tone_transmitter.h"

#include <cmath>

#include "modem/common/channel_patterns.h"
#include "modem/common/end_of_message.h"
#include "modem/common/mode_table.h"
#include "modem/common/symbols.h"

namespace kavra::modem {

SerialToneTransmitter::SerialToneTransmitter(TransmitProfile profile) : profile_(profile), synth_(profile) {}

std::size_t SerialToneTransmitter::SamplesNeeded(TransmitProfile profile, int mode, std::size_t length,
                                                 int card_rate_hz) {
    if (!IsTransmittedMode(mode)) return 0;
    const auto& info = ProfileInfo(profile);
    const double bytes = static_cast<double>(length) + kEomTrailerBytes;
    const double blocks = std::floor(bytes / DataBytesPerBlock(mode)) + 1.0;
    const double symbols = PreambleSymbols(mode) + blocks * BlockSymbols(mode);
    const double rate = std::max(static_cast<double>(card_rate_hz), static_cast<double>(info.nominal_rate_hz));
    return static_cast<std::size_t>(symbols * info.output_samples_per_symbol * rate / info.nominal_rate_hz) + 64;
}

int SerialToneTransmitter::Transmit(std::span<const std::uint8_t> message, int carrier_hz, int card_rate_hz,
                                    int mode, std::span<std::int16_t> output, std::uint32_t& sample_count) noexcept {
    sample_count = 0;
    if (!IsTransmittedMode(mode)) return 0;
    synth_.SetUp(carrier_hz, card_rate_hz, output);

    const std::size_t total = message.size() + kEomTrailerBytes;
    const auto block_bytes = static_cast<std::size_t>(DataBytesPerBlock(mode));
    SendPreamble(mode);
    encoder_.Reset();
    int blocks = 0;
    for (std::size_t first = 0; first <= total; first += block_bytes) {
        FillBlockBits(message, first, static_cast<int>(block_bytes));
        EncodeAndInterleave(mode);
        ModulateBlock(mode);
        ++blocks;
    }
    sample_count = static_cast<std::uint32_t>(synth_.sample_count());
    return blocks;
}

void SerialToneTransmitter::SendChannelSymbol(int symbol) noexcept {
    if (symbol_tap_ != nullptr) symbol_tap_(symbol_tap_context_, symbol);
    synth_.SendSymbol(symbol);
}

void SerialToneTransmitter::SendPreamble(int mode) noexcept {
    const DataModeInfo& info = ModeInfo(mode);
    for (int n = PreambleSegments(mode) - 1; n >= 0; --n)
        for (std::uint8_t channel_symbol : PreambleSegment(info.d1, info.d2, n))
            for (std::uint8_t s : kChannelSymbolPatterns[channel_symbol]) SendChannelSymbol(s);
}

void SerialToneTransmitter::FillBlockBits(std::span<const std::uint8_t> message, std::size_t first_byte,
                                          int block_bytes) noexcept {
    // The message is followed by the end-of-message word four times, then zeros.
    const std::size_t length = message.size();
    const std::size_t total = length + kEomTrailerBytes;
    for (int b = 0; b < block_bytes; ++b) {
        const std::size_t index = first_byte + static_cast<std::size_t>(b);
        std::uint8_t byte = 0;
        if (index < length) byte = message[index];
        else if (index < total) byte = kEomBytes[(index - length) % kEomBytes.size()];
        for (int k = 0; k < 8; ++k) bits_[static_cast<std::size_t>(8 * b + k)] = static_cast<std::uint8_t>((byte >> k) & 1);
    }
}

void SerialToneTransmitter::EncodeAndInterleave(int mode) noexcept {
    const auto data_bits = static_cast<std::size_t>(ModeInfo(mode).data_bits_per_block);
    for (std::size_t j = 0; j < data_bits; ++j) {
        const auto pair = encoder_.Encode(bits_[j]);
        coded_bits_[2 * j] = pair.first;
        coded_bits_[2 * j + 1] = pair.second;
    }
    const auto order = fetch_order_.ForMode(mode);
    for (std::size_t f = 0; f < order.size(); ++f) bits_[f] = coded_bits_[order[f]];
}

void SerialToneTransmitter::ModulateBlock(int mode) noexcept {
    const DataModeInfo& info = ModeInfo(mode);
    const int frames_per_group = info.modulation == Modulation::Psk8 ? 10 : 12;
    const int groups = BlockSymbols(mode) / kSegmentSymbols;
    std::size_t bit = 0;
    auto next_bits = [&](int count) {
        int value = 0;
        for (int k = 0; k < count; ++k) value = (value << 1) | bits_[bit++];
        return value;
    };
    for (int group = 0; group < groups; ++group) {
        scrambler_.Reset();
        const bool last_group = group + 1 == groups;
        for (int frame = 0; frame < frames_per_group; ++frame) {
            for (int d = 0; d < info.data_symbols; ++d) {
                int mapped = 0;
                switch (info.modulation) {
                    case Modulation::Psk8: mapped = kTribitMap[static_cast<std::size_t>(next_bits(3))]; break;
                    case Modulation::Qpsk: mapped = kDibitMap[static_cast<std::size_t>(next_bits(2))]; break;
                    default: mapped = kBitMap[static_cast<std::size_t>(next_bits(1))]; break;
                }
                SendChannelSymbol((mapped + scrambler_.Next()) & 7);
            }
            // The last two frames of each block carry the mode's D1 and D2 probe patterns.
            const bool probe_d1 = last_group && frame == frames_per_group - 2;
            const bool probe_d2 = last_group && frame == frames_per_group - 1;
            const auto& probe = kProbePatterns[static_cast<std::size_t>(probe_d1 ? info.d1 : info.d2)];
            for (int k = 0; k < info.known_symbols; ++k) {
                const int known = (probe_d1 || probe_d2) && k < 16 ? probe[static_cast<std::size_t>(k)] : 0;
                SendChannelSymbol((known + scrambler_.Next()) & 7);
            }
        }
    }
}

}  // namespace kavra::modem
