// kavra-station: the Kavra-2400 station.  With --headless it runs on a terminal: log, chat and
// status lines on standard output, operator commands on standard input or from a script.
#include <CLI/CLI.hpp>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include "link/disk_file_system.h"
#include "link/text_1251.h"
#include "station/station.h"
#include "station/steady_clock.h"
#include "station/thread_runner.h"
#include "station/transcript_view.h"
#include "station/virtual_time.h"
#include "tools/common/tool_io.h"
#include "tools/common/wav_io.h"
#include "tools/kavra_station/airs.h"
#include "tools/kavra_station/operator_script.h"
#include "tools/kavra_station/platform_choice.h"

#include "app/desktop.h"

namespace kavra::tools {
namespace {

std::atomic<bool> g_interrupted{false};  // set by SIGINT / SIGTERM, read by the main loop
extern "C" void OnSignal(int) { g_interrupted.store(true); }

struct Options {
    bool headless = false;
    bool demo = false;
    std::string settings;
    std::string callsign;
    int modem_type = -1;
    std::string air = "portaudio";
    std::string capture, playback;
    bool virtual_time = false;
    double until = -1;
    std::string answer = "yes";
    std::string script;
    double demo_snr = 15.0;
    std::string demo_fading = "moderate";
};

// The commands: a script read whole, or standard input (read on its own thread in real time, so
// the station never waits for the keyboard).
class Commands {
public:
    explicit Commands(const Options& o, bool virtual_time) {
        if (!o.script.empty()) {
            std::ifstream in(o.script);
            if (!in) throw ToolError(o.script + ": cannot read the script");
            for (std::string line; std::getline(in, line);) lines_.push_back(line);
            ended_ = true;
        } else if (virtual_time) {
            blocking_ = true;
        } else {
            reader_ = std::thread([this] {
                for (std::string line; std::getline(std::cin, line);) {
                    std::lock_guard lock(mutex_);
                    lines_.push_back(line);
                }
                std::lock_guard lock(mutex_);
                ended_ = true;
            });
            reader_.detach();  // a terminal read cannot be interrupted; the process ends it
        }
    }
    LineStatus Next(std::string& line) {
        if (blocking_) return std::getline(std::cin, line) ? LineStatus::Line : LineStatus::End;
        std::lock_guard lock(mutex_);
        if (!lines_.empty()) {
            line = std::move(lines_.front());
            lines_.pop_front();
            return LineStatus::Line;
        }
        return ended_ ? LineStatus::End : LineStatus::NotYet;
    }

private:
    std::mutex mutex_;
    std::deque<std::string> lines_;
    bool ended_ = false;
    bool blocking_ = false;
    std::thread reader_;
};

std::string To1251(const std::string& utf8, const char* what) {
    auto text = link::Utf8ToCp1251(utf8);
    if (!text) throw ToolError(std::string(what) + " '" + utf8 + "' holds characters outside Windows-1251");
    return *text;
}

// The callsign the station will use: the one given, else the stored one; refused when none.
std::string CheckCallsign(const Options& o, station::SettingsStore& store) {
    if (!o.callsign.empty()) {
        std::string cs = To1251(o.callsign, "--callsign");
        if (cs.size() > station::kCallsignChars) throw ToolError("--callsign: at most 8 characters");
        return cs;
    }
    store.Open();
    const auto stored = store.ReadString("CALLSIGN");
    store.Close();
    if (!stored || stored->empty() || stored->size() > station::kCallsignChars)
        throw ToolError("no callsign: give --callsign CS, or set CALLSIGN in the settings (--settings FILE)");
    return {};
}

int RunHeadless(const Options& o) {
    const bool file_air = o.air == "wav" || o.air == "stream";
    if (file_air && (o.capture.empty() || o.playback.empty()))
        throw ToolError("--air " + o.air + " needs --capture IN and --playback OUT");
    if (!file_air && (!o.capture.empty() || !o.playback.empty()))
        throw ToolError("--capture and --playback belong to --air wav or --air stream");
    if (o.air == "portaudio" && o.virtual_time) throw ToolError("--virtual-time needs --air wav or --air stream");
    const bool virtual_time = file_air;

    auto store = MakeSettingsStore(o.settings);
    station::StationOverrides overrides;
    if (const std::string cs = CheckCallsign(o, *store); !cs.empty()) overrides.callsign = cs;
    if (o.modem_type >= 0) overrides.modem_type = o.modem_type;
    const station::AnswerPolicy policy = o.answer == "no"  ? station::AnswerPolicy::No
                                         : o.answer == "ask" ? station::AnswerPolicy::Ask
                                                             : station::AnswerPolicy::Yes;
    Commands commands(o, virtual_time);

    // Sound.
    auto played = std::make_shared<std::vector<std::int16_t>>();
    std::unique_ptr<air::FileAir> file_sound;
    std::unique_ptr<audio::SoundSystem> card;
    if (o.air == "wav") file_sound = MakeWavAir(o.capture, o.playback, played);
    if (o.air == "stream") file_sound = MakeStreamAir(o.capture, o.playback);
    if (o.air == "portaudio") card = MakePortAudio();
    audio::SoundSystem& sound = file_sound ? static_cast<audio::SoundSystem&>(*file_sound) : *card;

    // The transcript: standard output, or standard error when the audio goes to standard output.
    std::FILE* out = o.playback == "-" ? stderr : stdout;
    station::VirtualTimeRunner virtual_runner;
    const auto real_start = std::chrono::steady_clock::now();
    auto now_ms = [&]() -> std::uint64_t {
        if (virtual_time) return virtual_runner.Now();
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - real_start).count());
    };
    station::TranscriptView view(now_ms);
    view.SetLineSink([out](const station::TranscriptLine& l) {
        std::fprintf(out, "[%.3f] %s: %s\n", static_cast<double>(l.time_ms) / 1000.0,
                     std::string(station::LineKindName(l.kind)).c_str(), l.text.c_str());
        std::fflush(out);
    });

    station::SteadyClock steady_clock;
    station::VirtualClock virtual_clock(virtual_runner.Now());
    link::Clock& clock = virtual_time ? static_cast<link::Clock&>(virtual_clock) : steady_clock;
    auto keying = MakeSerialKeying();
    link::DiskFileSystem files(".");
    station::Station station({clock, view, sound, *keying, *store, files}, overrides);
    OperatorScript script(station, view, [&](std::string& line) { return commands.Next(line); }, policy);

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    const std::uint64_t until_ms = o.until >= 0 ? static_cast<std::uint64_t>(o.until * 1000.0) : UINT64_MAX;
    auto finished = [&] {
        if (g_interrupted.load()) return true;
        if (now_ms() >= until_ms) return true;
        if (!script.Step(now_ms())) return true;
        // Without --until the run ends once the commands have ended and the station is quiet.
        return o.until < 0 && script.InputEnded() && station.Session().State() == link::LinkState::Idle &&
               !station.Keyed();
    };

    if (virtual_time) {
        virtual_runner.SetAir([&] { return file_sound->AdvanceOneMs(); });
        station.Start(virtual_runner.Add(station, virtual_clock));
        file_sound->SetPlaybackRate(station.PlaybackRate());
        while (!finished() && virtual_runner.Step()) {
        }
    } else {
        station::ThreadRunner threads(station);
        station.Start(threads);
        while (!finished()) {
            station.UiStep();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        station.Stop();
    }
    station.Stop();
    if (g_interrupted.load()) view.AppendLog(link::LogKind::System, "Stopped by signal; transmitter unkeyed, port closed.");
    if (file_sound) file_sound->Flush();
    if (o.air == "wav") WriteAllBytes(o.playback, EncodeWav(*played, station.PlaybackRate()));
    return 0;
}

}  // namespace
}  // namespace kavra::tools

int main(int argc, char** argv) {
    using kavra::tools::Options;
    Options o;
    CLI::App app{"kavra-station: the Kavra-2400 HF data modem station.\n"
                 "With --headless it runs on a terminal: log, chat and status lines on standard output as\n"
                 "'[seconds] kind: text' (kind: system, error, own, abonent, status); operator commands one per\n"
                 "line on standard input or from --script: connect CALLSIGN, disconnect, send PATH, stop,\n"
                 "say TEXT, wait SECONDS, yes, no, quit."};
    app.add_flag("--headless", o.headless, "Run on the terminal, without windows");
    app.add_flag("--demo", o.demo, "The desktop with a simulated peer station");
    app.add_option("--settings", o.settings, "An INI file instead of the user's settings (created with the defaults when missing)");
    app.add_option("--callsign", o.callsign, "This run's callsign (at most 8 characters; not stored)");
    app.add_option("--modem-type", o.modem_type, "This run's modem type: 0 = 2400 symbols/s, 1 = 2000 symbols/s (not stored)")
        ->check(CLI::Range(0, 1));
    app.add_option("--air", o.air, "Sound: portaudio (the sound card), wav (files), stream (raw 16-bit samples)")
        ->check(CLI::IsMember({"portaudio", "wav", "stream"}));
    app.add_option("--capture", o.capture, "wav: the 48000 Hz recording heard; stream: raw 48000 Hz input (file, FIFO or -)");
    app.add_option("--playback", o.playback, "wav: the recording of what is played; stream: raw output at the playback rate");
    app.add_flag("--virtual-time", o.virtual_time, "Run on virtual time (implied by wav and stream air)");
    app.add_option("--until", o.until, "Stop after this many seconds of station time")->check(CLI::Range(0.0, 1e7));
    app.add_option("--answer", o.answer, "How calls and file offers are answered: yes, no, or ask (type yes or no)")
        ->check(CLI::IsMember({"yes", "no", "ask"}));
    app.add_option("--script", o.script, "Operator commands from this file instead of standard input");
    app.add_option("--snr", o.demo_snr, "--demo: S/N of the simulated channel in 3 kHz, dB")->check(CLI::Range(-10.0, 60.0));
    app.add_option("--fading", o.demo_fading, "--demo: none, good, moderate, poor or flutter");
    try {
        app.parse(argc, argv);
        if (o.headless) {
            if (o.demo) throw kavra::tools::ToolError("--demo opens the desktop; for two stations on a terminal use kavra-demo");
            return kavra::tools::RunHeadless(o);
        }
        if (o.air != "portaudio" || !o.capture.empty() || !o.playback.empty() || !o.script.empty() || o.until >= 0)
            throw kavra::tools::ToolError("--air, --capture, --playback, --script and --until belong to --headless");
        const auto set = [](const char* name) { return std::getenv(name) != nullptr && *std::getenv(name) != '\0'; };
        if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM"))
            throw kavra::tools::ToolError("no display to open the window on: run with --headless, or under a desktop (or Xvfb)");
        kavra::app::DesktopOptions d;
        d.settings = o.settings;
        d.callsign = o.callsign;
        d.modem_type = o.modem_type;
        d.demo = o.demo;
        d.demo_snr = o.demo_snr;
        d.demo_fading = o.demo_fading;
        return kavra::app::RunDesktop(argc, argv, d);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        std::string message = e.what();
        for (char& c : message)
            if (c == '\n') c = ' ';
        std::cerr << "kavra-station: " << message << " (see --help)\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "kavra-station: " << e.what() << "\n";
        return 2;
    }
}
