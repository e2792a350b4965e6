#include "tests/support/allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long long> g_allocations{0};
}

namespace kavra::testing {
long long AllocationCount() noexcept { return g_allocations.load(std::memory_order_relaxed); }
}  // namespace kavra::testing

// Kept out of line: inlined into callers, the compiler would see malloc() and free() paired
// with new and delete and warn about a mismatch that is not there.
[[gnu::noinline]] void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
