// Shared by the fuzz targets: reading an input as a sequence of small fields, and invariant
// checks that stop the run with a message naming the broken rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

namespace kavra::fuzz {

[[noreturn]] inline void Broken(const char* rule, const char* file, int line, const std::string& detail) {
    std::fprintf(stderr, "\n*** invariant broken at %s:%d: %s%s%s\n", file, line, rule, detail.empty() ? "" : " -- ",
                 detail.c_str());
    std::fflush(stderr);
    std::abort();
}

// CHECK(condition): stops the run when the condition is false.  CHECK_MSG adds a detail text.
#define KAVRA_CHECK(cond) \
    do { \
        if (!(cond)) ::kavra::fuzz::Broken(#cond, __FILE__, __LINE__, {}); \
    } while (0)
#define KAVRA_CHECK_MSG(cond, detail) \
    do { \
        if (!(cond)) ::kavra::fuzz::Broken(#cond, __FILE__, __LINE__, (detail)); \
    } while (0)

// The libFuzzer entry point of a target whose work is `run(Input&)`.
#define KAVRA_FUZZ_ENTRY(run) \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
        ::kavra::fuzz::Input in(data, size); \
        run(in); \
        return 0; \
    }

// Reads fields from the front of the input; past its end every field reads as zero (and Empty()
// says so), so any input is a complete program.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const noexcept { return pos_ >= size_; }
    std::size_t Left() const noexcept { return pos_ < size_ ? size_ - pos_ : 0; }

    std::uint8_t U8() noexcept { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t U16() noexcept { return static_cast<std::uint16_t>(U8() | U8() << 8); }
    std::uint32_t U32() noexcept { return static_cast<std::uint32_t>(U16()) | static_cast<std::uint32_t>(U16()) << 16; }
    bool Bool() noexcept { return (U8() & 1) != 0; }
    // A value in [0, n), n > 0.
    std::uint32_t Below(std::uint32_t n) noexcept { return n <= 256 ? U8() % n : U32() % n; }

    // Up to `max` bytes: a length byte (or two when max > 255), then the bytes.
    std::vector<std::uint8_t> Bytes(std::size_t max) {
        const std::size_t want = (max > 255 ? U16() : U8()) % (max + 1);
        return Take(want);
    }
    std::string Text(std::size_t max) {
        const std::vector<std::uint8_t> b = Bytes(max);
        return std::string(b.begin(), b.end());
    }
    std::vector<std::uint8_t> Take(std::size_t n) {
        const std::size_t k = n < Left() ? n : Left();
        std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + k);
        pos_ += k;
        return out;
    }
    std::span<const std::uint8_t> Rest() noexcept {
        const std::span<const std::uint8_t> r(data_ + (pos_ < size_ ? pos_ : size_), Left());
        pos_ = size_;
        return r;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace kavra::fuzz
