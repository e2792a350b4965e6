// kavra-soak: two stations and a third on virtual air for hours of station time under a seeded
// schedule of operator actions and channel changes, checking what an operator relies on (files
// intact, nothing written outside RECEIVED, links that end, no stuck transmitter, flat memory).
// Exit code 0 when no invariant broke, 1 when one did (each printed with its seed and step), 2 on
// bad arguments.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

#include "soak/air_soak.h"

int main(int argc, char** argv) {
    kavra::soak::SoakOptions o;
    std::string folder = "out/soak";
    bool quiet = false;
    CLI::App app{"kavra-soak: a long deterministic run of two stations on a hostile simulated channel.\n"
                 "The same --seed and --type replay the same run; --stop-after-step ends it right after that\n"
                 "step of the schedule (the step a violation names)."};
    app.add_option("--seed", o.seed, "Seed of the schedule and the channel")->capture_default_str();
    app.add_option("--type", o.modem_type, "Modem type, 0 (2400 Bd) or 1 (2000 Bd)")->check(CLI::Range(0, 1))->capture_default_str();
    app.add_option("--hours", o.hours, "Hours of station time, the quiet end (about 15 minutes) included")
        ->check(CLI::Range(0.05, 1000.0))
        ->capture_default_str();
    app.add_option("--folder", folder, "Working folder of the stations (emptied first)")->capture_default_str();
    app.add_option("--stop-after-step", o.stop_after_step, "End right after this step of the schedule");
    app.add_flag("--quiet", quiet, "Print only the summary and the violations");
    CLI11_PARSE(app, argc, argv);
    o.folder = folder;
    o.log = [quiet](const std::string& line) {
        if (!quiet || line.rfind("VIOLATION", 0) == 0 || line.find("[") == 0) std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    try {
        const kavra::soak::SoakReport report = kavra::soak::RunAirSoak(o);
        std::printf("%s", report.Summary().c_str());
        return report.Passed() ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kavra-soak: %s\n", e.what());
        return 2;
    }
}
