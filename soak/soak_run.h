// A soak run: two stations (and a third on virtual air) driven by a seeded schedule for hours of
// station time, either the whole stack on virtual air (transmitters, HF channel, receivers,
// receive pipeline, link layer, files on disk) or the link layer's block-level simulation, with
// the invariants a radio operator relies on checked all along:
// - every file either side reports as sent or received successfully is byte-identical on the
//   receiving side (the first 241664 bytes of a larger one);
// - nothing is written in a station's folder outside "RECEIVED";
// - a link ends within the time the retry counters allow once the far station is gone, and both
//   stations are idle again after the schedule goes quiet;
// - no transmitter stays keyed longer than its burst;
// - the process's memory stays flat.
// A violation names the seed and the step of the schedule that replays it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>
#include <functional>
#include <string>
#include <vector>

namespace kavra::soak {

struct SoakOptions {
    bool block_level = false;           // the link layer's simulation instead of virtual air
    std::uint64_t seed = 1;
    int modem_type = 0;
    double hours = 1.0;                 // station time, the quiet end included
    std::filesystem::path folder = "out/soak";
    std::uint64_t stop_after_step = 0;  // 0: run the whole schedule
    bool transcript = false;            // every station's log lines go to `log` too
    // Progress and every action, one line each (none when empty).
    std::function<void(const std::string&)> log;
    // Called with a received file's bytes just before they are compared (tests break them here).
    std::function<void(std::vector<std::uint8_t>&)> before_compare;
};

struct SoakReport {
    std::uint64_t seed = 0;
    int modem_type = 0;
    std::uint64_t station_ms = 0;
    double wall_seconds = 0.0;
    std::uint64_t steps = 0;
    // Links.
    int calls = 0;            // connection attempts started
    int calls_unanswered = 0; // attempts that ran out ("not answer" before any link)
    int links_up = 0;         // "Connected to" on the calling side
    int disconnects = 0;      // ended by an operator's Disconnect (either side)
    int lost_far_gone = 0;    // "lost connection" while the far station was gone or deaf
    int lost_channel = 0;     // "lost connection" on a channel that was up
    // Files.
    int offers = 0;           // offers made
    int transfers = 0;        // "Sending file" (an offer accepted)
    int sent_ok = 0;          // "sended succesfully" (first report of each transfer)
    int delivered_whole = 0;  // "received succesfully", the file compared byte for byte
    int not_completed = 0;    // "is NOT completed" on either side (stopped or lost)
    int cut = 0;              // files past the largest transfer, sent cut
    std::uint64_t bytes_delivered = 0;
    int compares = 0;         // received files compared with what was sent
    // Turn-taking.
    std::uint64_t bursts = 0;
    std::uint64_t bursts_on_far_air = 0;  // started while the other linked station was transmitting
    // Memory (resident set, MiB).
    double rss_start_mib = 0.0;  // after the first hour (or the first sample)
    double rss_end_mib = 0.0;
    double rss_max_mib = 0.0;
    std::vector<std::string> violations;

    bool Passed() const noexcept { return violations.empty(); }
    std::string Summary() const;
};

SoakReport RunSoak(const SoakOptions& options);

}  // namespace kavra::soak
