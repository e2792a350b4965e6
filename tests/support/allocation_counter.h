// Counts calls of the global operator new in programs linked with allocation_counter.cpp, so
// tests and benchmarks can show that a hot path allocates nothing.
#pragma once

namespace kavra::testing {

// Allocations made through operator new since the program started.
long long AllocationCount() noexcept;

}  // namespace kavra::testing
