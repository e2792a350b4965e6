// The real clock: a wrapping 32-bit millisecond tick from the steady clock, and sleep.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "link/ports.h"

namespace kavra::station {

class SteadyClock : public link::Clock {
public:
    std::uint32_t NowMs() override {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
        return static_cast<std::uint32_t>(ms.count());
    }
    void SleepMs(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

}  // namespace kavra::station
