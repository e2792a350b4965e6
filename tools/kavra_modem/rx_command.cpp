// kavra-modem rx: a 48000 Hz capture WAV in, the decoded bytes of every frame out, with an
// optional JSON-lines report of each frame.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <optional>
#include <string>

#include "modem/common/mode_table.h"
#include "modem/rx/frame_collector.h"
#include "tools/kavra_modem/capture_decode.h"
#include "tools/kavra_modem/command.h"
#include "tools/common/wav_io.h"

namespace kavra::tools {

namespace {

struct RxOptions {
    int type = -1;
    std::optional<int> carrier;  // default: the modem type's carrier
    int card_rate = 48000;
    std::string input = "-";
    std::string output = "-";
    std::optional<std::string> report;
};

std::string ReportLines(const std::vector<modem::ReceivedFrame>& frames, int type) {
    std::string lines;
    for (const modem::ReceivedFrame& f : frames) {
        const nlohmann::json line{
            {"mode", f.mode},
            {"mode_name", std::string(modem::ModeName(f.mode, type))},
            {"bytes", f.bytes.size()},
            {"blocks", f.blocks},
            {"eom", f.eom},
            {"snr_avg", f.snr_avg},
            {"snr_min", f.snr_min},
            {"snr_max", f.snr_max},
            {"freq_offset_hz", f.freq_offset_hz},
        };
        lines += line.dump() + "\n";
    }
    return lines;
}

void RunRx(const RxOptions& o) {
    if (!modem::IsValidModemType(o.type)) throw ToolError("--type must be 0 (2400 Bd) or 1 (2000 Bd)");
    const int carrier = o.carrier.value_or(modem::DefaultCarrierHz(o.type));
    if (carrier < 0 || carrier > 3999) throw ToolError("--carrier must be 0..3999 Hz");
    if (!modem::IsAcceptableCaptureCardRate(o.card_rate))
        throw ToolError("--card-rate " + std::to_string(o.card_rate) + " Hz is more than 5% away from 48000 Hz");
    if (o.report && *o.report == "-" && o.output == "-")
        throw ToolError("--report - and the decoded bytes cannot both go to standard output");

    const std::string what = o.input == "-" ? "standard input" : o.input;
    const WavAudio audio = DecodeWav(ReadAllBytes(o.input), what);
    if (audio.sample_rate != kCaptureRate)
        throw ToolError(what + " is " + std::to_string(audio.sample_rate) +
                        " Hz; the receiver takes 48000 Hz capture audio (resample it first)");

    const modem::FrameCollector collector = DecodeCapture(audio.samples, {o.type, carrier, o.card_rate});

    const std::vector<std::uint8_t> bytes = collector.AllBytes();
    if (o.report) {
        const std::string lines = ReportLines(collector.frames(), o.type);
        WriteAllBytes(*o.report, std::vector<std::uint8_t>(lines.begin(), lines.end()));
    }
    WriteAllBytes(o.output, bytes);
    std::fprintf(stderr, "kavra-modem rx: type %d, %.3f s of audio: %zu frame%s, %zu bytes\n", o.type,
                 static_cast<double>(audio.samples.size()) / kCaptureRate, collector.frames().size(),
                 collector.frames().size() == 1 ? "" : "s", bytes.size());
}

}  // namespace

void AddRxCommand(CLI::App& app) {
    auto options = std::make_shared<RxOptions>();
    CLI::App* rx = app.add_subcommand("rx", "Decode the transmissions in a 48000 Hz capture recording back "
                                            "into their message bytes.");
    rx->add_option("--type", options->type, "Modem type: 0 = 2400 symbols/s (carrier 1800 Hz), "
                                            "1 = 2000 symbols/s (carrier 1500 Hz)")
        ->required();
    rx->add_option("--carrier", options->carrier, "Receive carrier in Hz, 0..3999 (default 1800 / 1500)");
    rx->add_option("--card-rate", options->card_rate,
                   "Real sample rate of the capture card in Hz, compensated so the symbol rate is exact "
                   "(within 5% of 48000)")
        ->capture_default_str();
    rx->add_option("-i,--input", options->input, "16-bit PCM mono WAV at 48000 Hz, - for standard input")
        ->capture_default_str();
    rx->add_option("-o,--output", options->output,
                   "File for the decoded bytes of every frame, cut at the end-of-message word, - for "
                   "standard output")
        ->capture_default_str();
    rx->add_option("--report", options->report,
                   "File for one JSON object per frame and line (mode, mode_name, bytes, eom, snr_avg, "
                   "snr_min, snr_max, freq_offset_hz), - for standard output");
    rx->callback([options] { RunRx(*options); });
}

}  // namespace kavra::tools
