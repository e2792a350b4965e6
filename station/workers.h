// The station's three plain workers and how a runner starts and stops them.  The user-interface
// thread's own work (the received-block pump, the request dialog's countdown, the 200 ms refresh)
// is Station::UiStep, run by whoever owns that thread.
#pragma once

namespace kavra::station {

enum class Worker : int { Capture = 0, Demodulation = 1, Transmit = 2 };
inline constexpr int kWorkerCount = 3;

// Pause after each step, ms.
constexpr int PauseMs(Worker w) noexcept { return w == Worker::Capture ? 10 : 1; }

class WorkerRunner {
public:
    virtual ~WorkerRunner() = default;
    // Run flag to 1, then the worker starts stepping.
    virtual void StartWorker(Worker w) = 0;
    // Run flag to 0; returns once the worker has answered 2 (stopped).  A worker never started
    // returns at once.
    virtual void StopWorker(Worker w) = 0;
};

}  // namespace kavra::station
