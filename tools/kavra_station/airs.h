// The sound the headless station runs on besides a sound card: WAV files and raw sample streams.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/air/file_air.h"

namespace kavra::tools {

// WAV air: IN.wav (48000 Hz, mono, 16-bit) heard from time 0, then silence; what the station plays
// collected in `played` at the playback rate, silence between bursts.  Throws ToolError on a bad
// input file.
std::unique_ptr<air::FileAir> MakeWavAir(const std::string& capture_path, const std::string& playback_path,
                                         std::shared_ptr<std::vector<std::int16_t>> played);

// Stream air: raw signed 16-bit little-endian mono, 48000 Hz in (a file, a FIFO or "-"), the
// playback rate out (a file, a FIFO or "-").  A FIFO is opened for output without waiting for
// its reader, so two stations coupled through FIFOs start in any order.  Throws ToolError when a
// file cannot be opened.
std::unique_ptr<air::FileAir> MakeStreamAir(const std::string& capture_path, const std::string& playback_path);

}  // namespace kavra::tools
