// `kavra-modem rx` on an arbitrary file: the image through the project's WAV reading (libsndfile
// over memory), then, when it is a 48000 Hz mono 16-bit WAV as the command requires, through the
// same receiving loop the command runs (modem type from the image's length, so both are fuzzed).
// A file is refused with the tool's error or decoded; the reading must hand over exactly the
// frames the header promises, and the receiving must keep every figure in range.
#include "fuzz/fuzz_support.h"
#include "fuzz/receiver_checks.h"
#include "tools/common/tool_io.h"
#include "tools/common/wav_io.h"
#include "tools/kavra_modem/capture_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kavra;
    const std::vector<std::uint8_t> image(data, data + size);
    tools::WavAudio audio;
    try {
        audio = tools::DecodeWav(image, "input.wav");
    } catch (const tools::ToolError&) {
        return 0;  // refused with one line, as the command does
    }
    // A 16-bit mono image cannot hold more samples than its bytes allow.
    KAVRA_CHECK_MSG(audio.samples.size() <= size / 2, std::to_string(audio.samples.size()) + " samples from " +
                                                          std::to_string(size) + " bytes");
    if (audio.sample_rate != tools::kCaptureRate) return 0;
    const int type = static_cast<int>(size & 1);
    fuzz::SampleTimer timer;  // from one sample's report to the next: the sample and the collector's poll
    timer.Start();
    long long calls = 0;
    const modem::FrameCollector collector = tools::DecodeCapture(
        audio.samples, {type, modem::DefaultCarrierHz(type), tools::kCaptureRate},
        [&](const modem::SerialToneReceiver& rx, const modem::ReceiverOutput& out) {
            timer.Stop();
            timer.Start();
            ++calls;
            fuzz::CheckReceiverOutput(rx, out);
        });
    // Every kept sample, then at most 30 s of silence at the receiver's rate.
    const long long step = type == 0 ? 5 : 6;
    const long long most = (static_cast<long long>(audio.samples.size()) + step - 1) / step + 30LL * 4 * 2400 + 1000;
    KAVRA_CHECK(calls <= most);
    fuzz::CheckFrames(collector);
    return 0;
}
