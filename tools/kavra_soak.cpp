// kavra-soak: two stations and a third on virtual air for hours of station time under a seeded
// schedule of operator actions and channel changes, checking what an operator relies on (files
// intact, nothing written outside RECEIVED, links that end, no stuck transmitter, flat memory).
// --block-level runs the same schedule on the link layer's block simulation, fast enough for many
// seeds.  Exit code 0 when no invariant broke, 1 when one did (each printed with its seed and
// step), 2 on bad arguments.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

#include "soak/soak_run.h"

int main(int argc, char** argv) {
    kavra::soak::SoakOptions o;
    std::string folder = "out/soak";
    bool quiet = false;
    int seeds = 1;
    CLI::App app{"kavra-soak: a long deterministic run of two stations on a hostile simulated channel.\n"
                 "The same --seed and --type replay the same run; --stop-after-step ends it right after that\n"
                 "step of the schedule (the step a violation names)."};
    app.add_option("--seed", o.seed, "Seed of the schedule and the channel")->capture_default_str();
    app.add_option("--seeds", seeds, "Run this many seeds, from --seed on")->check(CLI::Range(1, 100000))->capture_default_str();
    app.add_option("--type", o.modem_type, "Modem type, 0 (2400 Bd) or 1 (2000 Bd)")->check(CLI::Range(0, 1))->capture_default_str();
    app.add_option("--hours", o.hours, "Hours of station time, the quiet end (about 15 minutes) included")
        ->check(CLI::Range(0.05, 1000.0))
        ->capture_default_str();
    app.add_flag("--block-level", o.block_level, "The link layer's block simulation instead of the whole stack on virtual air");
    app.add_option("--folder", folder, "Working folder of the stations on virtual air (emptied first)")->capture_default_str();
    app.add_option("--stop-after-step", o.stop_after_step, "End right after this step of the schedule");
    app.add_flag("--transcript", o.transcript, "Print every log line of the two stations too");
    app.add_flag("--quiet", quiet, "Print only the progress, the violations and the summary");
    CLI11_PARSE(app, argc, argv);
    o.folder = folder;
    o.log = [quiet](const std::string& line) {
        if (!quiet || line.rfind("VIOLATION", 0) == 0 || line.rfind("[", 0) == 0) std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    if (seeds > 1) o.log = [](const std::string& line) {
        if (line.rfind("VIOLATION", 0) == 0) std::printf("%s\n", line.c_str());
    };
    try {
        bool passed = true;
        const std::uint64_t first = o.seed;
        for (int s = 0; s < seeds; ++s) {
            o.seed = first + static_cast<std::uint64_t>(s);
            const kavra::soak::SoakReport report = kavra::soak::RunSoak(o);
            std::printf("%s", report.Summary().c_str());
            std::fflush(stdout);
            passed = passed && report.Passed();
        }
        return passed ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kavra-soak: %s\n", e.what());
        return 2;
    }
}
