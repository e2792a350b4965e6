// kavra-modem tx: message bytes in, the complete transmission out as a WAV file.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "modem/common/mode_table.h"
#include "modem/tx/serial_tone_transmitter.h"
#include "tools/kavra_modem/command.h"
#include "tools/common/wav_io.h"

namespace kavra::tools {

namespace {

using modem::ProfileInfo;
using modem::SerialToneTransmitter;

struct TxOptions {
    int type = -1;
    int mode = -1;
    int play_rate = 48000;
    std::optional<int> carrier;    // default: the modem type's carrier
    std::optional<int> card_rate;  // default: the playback rate
    std::string input = "-";
    std::string output = "-";
};

// Longest transmission the tool builds: an hour of audio.
constexpr double kMaxSeconds = 3600.0;

void RunTx(const TxOptions& o) {
    if (!modem::IsValidModemType(o.type)) throw ToolError("--type must be 0 (2400 Bd) or 1 (2000 Bd)");
    if (!modem::IsTransmittedMode(o.mode))
        throw ToolError("--mode must be 0..5 (" + std::to_string(o.mode) + " is not a transmitted mode)");
    if (o.play_rate != 48000 && o.play_rate != 8000) throw ToolError("--play-rate must be 48000 or 8000");
    const auto profile = modem::ProfileFor(o.type, o.play_rate);
    if (!profile) throw ToolError("--play-rate 8000 is only for modem type 1");
    const int carrier = o.carrier.value_or(modem::DefaultCarrierHz(o.type));
    if (carrier < 1 || carrier > 4000) throw ToolError("--carrier must be 1..4000 Hz");
    const int card_rate = o.card_rate.value_or(o.play_rate);
    if (!modem::IsAcceptableCardRate(*profile, card_rate))
        throw ToolError("--card-rate " + std::to_string(card_rate) + " Hz is more than 5% away from " +
                        std::to_string(o.play_rate) + " Hz");

    const std::vector<std::uint8_t> message = ReadAllBytes(o.input);
    const std::size_t capacity = SerialToneTransmitter::SamplesNeeded(*profile, o.mode, message.size(), card_rate);
    if (static_cast<double>(capacity) / card_rate > kMaxSeconds)
        throw ToolError("message of " + std::to_string(message.size()) + " bytes would take over an hour in mode " +
                        std::to_string(o.mode) + "; split it or choose a faster mode");

    auto transmitter = std::make_unique<SerialToneTransmitter>(*profile);
    std::vector<std::int16_t> samples(capacity);
    std::uint32_t count = 0;
    const int blocks = transmitter->Transmit(message, carrier, card_rate, o.mode, samples, count);
    samples.resize(count);
    WriteAllBytes(o.output, EncodeWav(samples, o.play_rate));

    std::fprintf(stderr, "kavra-modem tx: %zu bytes in \"%s\" (type %d, %s, carrier %d Hz): %d block%s, %u samples, %.3f s\n",
                 message.size(), std::string(modem::ModeName(o.mode, o.type)).c_str(), o.type,
                 std::string(ProfileInfo(*profile).name).c_str(), carrier, blocks, blocks == 1 ? "" : "s", count,
                 static_cast<double>(count) / o.play_rate);
}

}  // namespace

void AddTxCommand(CLI::App& app) {
    auto options = std::make_shared<TxOptions>();
    CLI::App* tx = app.add_subcommand("tx", "Encode message bytes into the audio of one transmission "
                                            "(preamble, data blocks, end of message).");
    tx->add_option("--type", options->type, "Modem type: 0 = 2400 symbols/s (carrier 1800 Hz), "
                                            "1 = 2000 symbols/s (carrier 1500 Hz)")
        ->required();
    tx->add_option("--mode", options->mode, "Data mode 0..5: 0/1 = 2400 (2000) bit/s short/long, "
                                            "2/3 = 1200 (1000), 4/5 = 600 (500)")
        ->required();
    tx->add_option("--play-rate", options->play_rate, "Output sample rate: 48000, or 8000 for type 1")
        ->capture_default_str();
    tx->add_option("--carrier", options->carrier, "Carrier in Hz, 1..4000 (default 1800 / 1500)");
    tx->add_option("--card-rate", options->card_rate,
                   "Real sample rate of the playback card in Hz, compensated so the symbol rate is exact "
                   "(default: the play rate; within 5%)");
    tx->add_option("-i,--input", options->input, "Message file, - for standard input")->capture_default_str();
    tx->add_option("-o,--output", options->output, "WAV file to write, - for standard output")
        ->capture_default_str();
    tx->callback([options] { RunTx(*options); });
}

}  // namespace kavra::tools
