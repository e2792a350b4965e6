// From message bytes to the complete audio of one transmission: preamble, then interleaver
// blocks of coded, interleaved, scrambled PSK symbols, closed by the end-of-message word.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "modem/common/convolutional_code.h"
#include "modem/common/data_scrambler.h"
#include "modem/common/interleaver.h"
#include "modem/tx/transmit_profile.h"
#include "modem/tx/waveform_synthesizer.h"

namespace kavra::modem {

class SerialToneTransmitter {
public:
    static constexpr std::size_t kMaxBlockBits = 23040;  // 40 x 576
    static constexpr std::uint32_t kSchedulerCapacity = 3000000;

    explicit SerialToneTransmitter(TransmitProfile profile);
    SerialToneTransmitter(const SerialToneTransmitter&) = delete;
    SerialToneTransmitter& operator=(const SerialToneTransmitter&) = delete;

    // Sends `message` in `mode` (0..5) on `carrier_hz`, corrected for a sound card that really
    // runs at `card_rate_hz`.  Writes at most output.size() samples; `sample_count` receives
    // how many were written.  Returns the number of interleaver blocks sent (0, with nothing
    // written, for a mode the transmitter does not build).  The message buffer is only read.
    int Transmit(std::span<const std::uint8_t> message, int carrier_hz, int card_rate_hz, int mode,
                 std::span<std::int16_t> output, std::uint32_t& sample_count) noexcept;

    // Hook for tests and tools that want the channel symbols: called with every symbol number
    // in sending order (preamble included) before it is synthesised.
    using SymbolTap = void (*)(void* context, int symbol);
    void SetSymbolTap(SymbolTap tap, void* context) noexcept {
        symbol_tap_ = tap;
        symbol_tap_context_ = context;
    }

    TransmitProfile profile() const noexcept { return profile_; }

    // Samples a transmission of `length` bytes in `mode` needs at `card_rate_hz`, with a small
    // margin: enough room for the whole message.
    static std::size_t SamplesNeeded(TransmitProfile profile, int mode, std::size_t length, int card_rate_hz);

private:
    void SendPreamble(int mode) noexcept;
    void FillBlockBits(std::span<const std::uint8_t> message, std::size_t first_byte, int block_bytes) noexcept;
    void EncodeAndInterleave(int mode) noexcept;
    void ModulateBlock(int mode) noexcept;
    void SendChannelSymbol(int symbol) noexcept;

    TransmitProfile profile_;
    WaveformSynthesizer synth_;
    FetchOrderTable fetch_order_;
    ConvolutionalEncoder encoder_;
    DataScrambler scrambler_;
    std::array<std::uint8_t, kMaxBlockBits> bits_{};        // data bits, then the fetched coded bits
    std::array<std::uint8_t, kMaxBlockBits> coded_bits_{};  // one block after coding
    SymbolTap symbol_tap_ = nullptr;
    void* symbol_tap_context_ = nullptr;
};

}  // namespace kavra::modem
