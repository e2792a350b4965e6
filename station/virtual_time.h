// Stations on virtual time in one thread: a millisecond clock that only the runner advances, and
// a runner that calls each station's steps when its threads would -- the air first (sound moves
// by one millisecond), then per station the capture step every 10 ms, the demodulation step, the
// scheduler pass unless the transmit thread sleeps, and the user-interface step.  The same steps
// as on real threads, deterministic, many times faster than real time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "link/ports.h"
#include "station/workers.h"

namespace kavra::station {

class Station;

// One station's view of virtual time: the tick count starts at `start_tick` (close to the wrap by
// default, so every run crosses it).  SleepMs (TransmitThread only) is collected by the runner.
class VirtualClock : public link::Clock {
public:
    explicit VirtualClock(const std::uint64_t& now_ms, std::uint32_t start_tick = 0xFFFF0000u)
        : now_(now_ms), start_(start_tick) {}
    std::uint32_t NowMs() override { return static_cast<std::uint32_t>(start_ + now_); }
    void SleepMs(std::uint32_t ms) override { pending_sleep_ += ms; }
    std::uint32_t TakeSleep() noexcept {
        const std::uint32_t s = pending_sleep_;
        pending_sleep_ = 0;
        return s;
    }

private:
    const std::uint64_t& now_;
    std::uint32_t start_;
    std::uint32_t pending_sleep_ = 0;
};

class VirtualTimeRunner {
public:
    VirtualTimeRunner() = default;
    VirtualTimeRunner(const VirtualTimeRunner&) = delete;
    VirtualTimeRunner& operator=(const VirtualTimeRunner&) = delete;

    const std::uint64_t& Now() const noexcept { return now_; }

    // Registers a station (before its Start, which is given the answer as its runner); `phase_ms`
    // shifts its 10 ms capture steps.  The station and its clock must outlive the runner's use.
    WorkerRunner& Add(Station& station, VirtualClock& clock, int phase_ms = 0);
    // Removes a station (it vanished); its workers stop being called.
    void Remove(Station& station);
    // Called at the start of every millisecond: moves the sound.  Answers false to end the run
    // (the stream air's input ended).
    void SetAir(std::function<bool()> advance_one_ms) { air_ = std::move(advance_one_ms); }
    // Called at the end of every millisecond (an operator's scripted reactions).
    void SetAfterStep(std::function<void()> after) { after_ = std::move(after); }

    // One millisecond; false when the air ended.
    bool Step();
    // `ms` milliseconds, or until the air ends; answers whether all ran.
    bool Run(std::uint64_t ms);
    template <class Pred>
    bool RunUntil(Pred done, std::uint64_t max_ms) {
        const std::uint64_t end = now_ + max_ms;
        while (!done()) {
            if (now_ >= end || !Step()) return false;
        }
        return true;
    }

private:
    class Slot : public WorkerRunner {
    public:
        void StartWorker(Worker w) override { running[static_cast<std::size_t>(w)] = true; }
        void StopWorker(Worker w) override { running[static_cast<std::size_t>(w)] = false; }
        Station* station = nullptr;
        VirtualClock* clock = nullptr;
        int phase = 0;
        std::array<bool, kWorkerCount> running{};
        std::uint64_t transmit_wake = 0;
    };

    std::uint64_t now_ = 0;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::function<bool()> air_;
    std::function<void()> after_;
};

}  // namespace kavra::station
