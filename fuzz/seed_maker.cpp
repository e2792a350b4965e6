// Writes every target's seeds (regression inputs found by fuzzing are kept beside them):
//   link_session_fuzz: a call answered and a file received; a call made and a file sent; a
//     large file stopped; an unsafe file name offered and answered by hand;
//   pipeline_bytes_fuzz: valid blocks in a frame, under two link states;
//   block_decoder_fuzz: a block of each kind of mode, and a frame of blocks;
//   receiver_samples_fuzz: a short transmission of each modem type as the SampleRing holds it;
//   wav_rx_fuzz: small WAV images, the accepted kind and kinds the command refuses;
//   settings_fuzz: an abonents file and a settings store;
//   operator_commands_fuzz, station_script_fuzz: a script.
// Usage: fuzz_seed_maker CORPUS_FOLDER  (writes into its receiver_samples_fuzz/ and wav_rx_fuzz/)
#include <sndfile.h>

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <string_view>
#include <string>
#include <vector>

#include "link/link_block.h"
#include "modem/common/mode_table.h"
#include "modem/rx/receiver_profile.h"
#include "modem/tx/serial_tone_transmitter.h"
#include "tools/common/wav_io.h"

namespace {

using namespace kavra;

void Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
}

// One link block (a chat line) at 48000 Hz: 2400/2000 bit/s short (8-PSK) for type 0, 1200/1000
// short (QPSK) for type 1, each a single interleaver block.
std::vector<std::int16_t> Transmission(int type) {
    const auto profile = type == 0 ? modem::TransmitProfile::Profile2400At48k : modem::TransmitProfile::Profile2000At48k;
    const std::string text = "seed\n";
    const link::LinkBlockBytes block = link::BuildLinkBlock(static_cast<int>(link::ControlCode::ChatData), 0,
                                                            std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    const int mode = type == 0 ? 0 : 2;
    std::vector<std::int16_t> samples(modem::SerialToneTransmitter::SamplesNeeded(profile, mode, block.size(), 48000));
    modem::SerialToneTransmitter tx(profile);
    std::uint32_t count = 0;
    tx.Transmit(block, modem::DefaultCarrierHz(type), 48000, mode, samples, count);
    samples.resize(count);
    return samples;
}

std::vector<std::uint8_t> SoundFile(int format, int channels, int rate, std::span<const std::int16_t> mono) {
    const std::string path = "/tmp/kavra_fuzz_seed.tmp";
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (sf == nullptr) return {};
    std::vector<std::int16_t> frames;
    for (const std::int16_t s : mono)
        for (int c = 0; c < channels; ++c) frames.push_back(s);
    sf_writef_short(sf, frames.data(), static_cast<sf_count_t>(mono.size()));
    sf_close(sf);
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    return bytes;
}

using Bytes = std::vector<std::uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
Bytes Str(std::string_view text) { return Bytes(text.begin(), text.end()); }
Bytes Counted(std::string_view text) { return Cat({{static_cast<std::uint8_t>(text.size())}, Str(text)}); }
Bytes Pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 13 + 1);
    return b;
}

// The link target's program: settings (auto-answers All, unlimited attempts, type 0), a 130-byte
// file to send, then steps (see link_session_fuzz.cpp for the step codes).
Bytes turn_step() { return {5}; }

Bytes LinkProgram(std::uint8_t settings, std::initializer_list<Bytes> steps) {
    return Cat({{settings, 0, 5, 130, 0}, Pattern(130), Cat(steps)});
}

void LinkSeeds(const std::string& dir) {
    const Bytes turn{5};
    // Answer a call, take a 130-byte file in three pieces, end, disconnect.
    Write(dir + "/callee_receives_file",
          LinkProgram(0x0A, {{0, 1}, turn, Cat({{0, 9}, Counted("hello\n")}), Cat({{0, 5, 130, 0}, Counted("notes.txt")}), turn,
                             Cat({{0, 3, 0}, Pattern(59)}), Cat({{0, 3, 1}, Pattern(59)}), Cat({{0, 3, 2}, Pattern(12)}),
                             turn, {0, 0x48}, turn, {10}, turn}));
    // Call, send the 130-byte file, all pieces acknowledged, chat, disconnect.
    Write(dir + "/caller_sends_file",
          LinkProgram(0x0A, {{7, 1}, turn, {0, 0x82, 0xFF}, {8, 0}, {12, 1}, turn, {0, 0x86, 0xFF}, turn,
                             {0, 7, 3, 0, 1, 2}, turn, Cat({{11}, Counted("thanks")}), turn, {10}, turn}));
    // A file larger than a transfer: offered, accepted, some pieces acknowledged, stopped.
    Write(dir + "/large_file_stopped",
          LinkProgram(0x0A, {{7, 1}, turn, {0, 0x82, 0xFF}, {8, 1}, {12, 1}, turn, {0, 0x86, 0xFF}, turn,
                             {0, 7, 4, 10, 0, 0, 0, 20, 0, 0, 0, 30, 0, 0, 0, 40, 0, 0, 0}, turn, {9}, turn, {0, 0x82, 0xFF}, {6, 1}, {4, 0, 0x10, 0}}));
    // Answers by hand (never automatic): the call, then an offer of an unsafe name, with data.
    Write(dir + "/unsafe_name_by_hand",
          LinkProgram(0x00, {{0, 1}, {12, 1}, turn, {0, 9, 0}, Cat({{0, 5, 20, 0}, Counted("../..\\COM1:.txt ")}),
                             {13, 31}, turn, Cat({{0, 5, 20, 0}, Counted("C:..\\con")}), {12, 1}, turn,
                             Cat({{0, 3, 0}, Pattern(20)}), turn, {0, 0x48}, {16, 1, 0}, {15, 0x8A, 3, 'X', 'Y', 'Z', 1, 2}}));
}

// Control characters from the air: a call whose caller field holds a line feed and an escape,
// then chat with terminal escapes (the transcript must show them as '_').
void AirControlSeed(const std::string& dir) {
    const Bytes call = Cat({Str("KAVRA1"), {0, 0}, Str("EV\nIL\x1b["), {0x32, 0x4A}});
    Write(dir + "/air_control_characters",
          LinkProgram(0x0A, {Cat({{0, 0, 1, 0, 0, static_cast<std::uint8_t>(call.size())}, call}), turn_step(),
                             Cat({{0, 9}, Counted("\x1b[2J\x07ding\x08\x7f\n")})}));
}

void PipelineSeeds(const std::string& dir) {
    // Shown view, Idle: a frame with a call and a chat block (the second refused in Idle).
    Write(dir + "/frame_of_blocks",
          Cat({{1, 0}, {0, 0, 0, 1, 1, 0x34, 0x12}, Counted("KAVRA1\0\0PEER7"), {1, 1, 0, 4, 0, 0}, Counted("hi"),
               {4, 5, 0xFF, 0x0F}, {6, 4}, {0, 2, 1}, Counted("bits"), {0, 1, 0, 2, 0, 0, 0}, Counted("data"), {4, 5, 0, 1}}));
}

void DecoderSeeds(const std::string& dir) {
    // Each transmitted mode's full block of mild soft values; then a frame in mode 0.
    for (int mode = 0; mode < 6; ++mode)
        Write(dir + "/block_mode" + std::to_string(mode),
              Bytes{0x80, static_cast<std::uint8_t>(mode), 1, 0, static_cast<std::uint8_t>(mode), 3, 5, 20, 5, 0xEC, 5, 9});
    Write(dir + "/frame_mode0", Bytes{1, 0, 1, 0, 0, 1, 5, 30, 5, 30, 2, 1, 0, 0, 0, 5, 30, 5, 226, 3});
}

void SettingsSeeds(const std::string& dir) {
    Write(dir + "/abonents", Cat({{0}, Str("KAVRA2 1 a friend\nKAVRA3 0\r\n  KAVRA2 0 twice\nX 0x10 hex\n")}));
    // Settings: every number present, callsign and devices as strings, one device listed.
    Bytes store{1};
    for (int i = 0; i < 15; ++i) store.insert(store.end(), {1, static_cast<std::uint8_t>(i == 1 ? 1 : i * 3)});
    store = Cat({store, {2}, Counted("KAVRA1"), {2}, Counted("Card A"), {0}, {2}, Counted("/dev/ttyUSB0"),
                 {1}, Counted("Card A"), {2}, Counted("Card B"), Counted("Card C"), {1}});
    Write(dir + "/store", store);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seed_maker CORPUS_FOLDER\n");
        return 2;
    }
    const std::string corpus = argv[1];
    for (int type = 0; type < 2; ++type) {
        const std::vector<std::int16_t> burst = Transmission(type);
        const auto step = static_cast<std::size_t>(modem::ReceiverProfileFor(type).capture_decimation);
        // Header: type, the type's carrier, nominal card rate; then the ring samples.
        std::vector<std::uint8_t> seed{static_cast<std::uint8_t>(type), 0, 0, 0x80, 0xBB, 0, 0};
        for (std::size_t i = 0; i < burst.size(); i += step) {
            const auto u = static_cast<std::uint16_t>(burst[i]);
            seed.push_back(static_cast<std::uint8_t>(u & 0xFF));
            seed.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        // A little silence after the burst.
        seed.resize(seed.size() + 2 * 1000, 0);
        Write(corpus + "/receiver_samples_fuzz/burst_type" + std::to_string(type), seed);
    }
    LinkSeeds(corpus + "/link_session_fuzz");
    AirControlSeed(corpus + "/link_session_fuzz");
    PipelineSeeds(corpus + "/pipeline_bytes_fuzz");
    DecoderSeeds(corpus + "/block_decoder_fuzz");
    SettingsSeeds(corpus + "/settings_fuzz");
    Write(corpus + "/operator_commands_fuzz/script",
          Str("# a session\nconnect KAVRA2\nwait 1.5\nsay \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \n"
              "send /tmp/a b.txt\r\nstop\nyes\nno\n  disconnect  \nwait 1e9\nquit now\nquit\n"));
    // Settings as stored (19 values kept), answer yes, no SIMD; abonents; a 5-byte file; a script.
    Write(corpus + "/station_script_fuzz/call_chat_send",
          Cat({Bytes(19, 0), {0}, Counted("KAVRA2 1 friend\n"), {5, 0}, Str("hello"),
               Str("connect KAVRA2\nwait 2\nsay hi there\nsend /data/one.txt\nyes\nwait 30\nstop\nno\n"
                   "disconnect\nconnect TOOLONGCALL\nwait 0.5\nquit\n")}));
    Write(corpus + "/station_script_fuzz/type1_8k_settings",
          Cat({{1, 1}, {1, 1}, Bytes(13, 0), {2}, Counted("KAVRA3"), Bytes(3, 0), {1}, {0}, {0, 0},
               Str("connect KAVRA2\nwait 20\n")}));
    const std::vector<std::int16_t> burst = Transmission(0);
    const std::span<const std::int16_t> piece(burst.data() + 20000, 300);
    Write(corpus + "/wav_rx_fuzz/pcm16_mono_48k.wav", tools::EncodeWav(piece, 48000));
    Write(corpus + "/wav_rx_fuzz/pcm16_mono_44k1.wav", tools::EncodeWav(piece, 44100));
    Write(corpus + "/wav_rx_fuzz/pcm16_stereo.wav", SoundFile(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 48000, piece.first(100)));
    Write(corpus + "/wav_rx_fuzz/pcm8.wav", SoundFile(SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 48000, piece.first(100)));
    Write(corpus + "/wav_rx_fuzz/float.wav", SoundFile(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 48000, piece.first(50)));
    Write(corpus + "/wav_rx_fuzz/wavex_pcm16.wav", SoundFile(SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 1, 48000, piece.first(100)));
    Write(corpus + "/wav_rx_fuzz/ima_adpcm.wav", SoundFile(SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 1, 48000, piece.first(200)));
    Write(corpus + "/wav_rx_fuzz/ulaw.wav", SoundFile(SF_FORMAT_WAV | SF_FORMAT_ULAW, 1, 48000, piece.first(100)));
    Write(corpus + "/wav_rx_fuzz/aiff_pcm16.aiff", SoundFile(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, 48000, piece.first(100)));
    return 0;
}
