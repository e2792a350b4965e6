#include "tools/kavra_station/airs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "tools/common/tool_io.h"
#include "tools/common/wav_io.h"

namespace kavra::tools {

std::unique_ptr<air::FileAir> MakeWavAir(const std::string& capture_path, const std::string& playback_path,
                                         std::shared_ptr<std::vector<std::int16_t>> played) {
    auto heard = std::make_shared<WavAudio>(DecodeWav(ReadAllBytes(capture_path), capture_path));
    if (heard->sample_rate != 48000)
        throw ToolError(capture_path + ": sample rate " + std::to_string(heard->sample_rate) +
                        " Hz; the station captures at 48000 Hz (kavra-modem channel --rate 48000 converts)");
    auto position = std::make_shared<std::size_t>(0);
    air::SampleSource source = [heard, position](std::span<std::int16_t> out) {
        const std::size_t n = std::min(out.size(), heard->samples.size() - std::min(*position, heard->samples.size()));
        std::copy_n(heard->samples.begin() + static_cast<std::ptrdiff_t>(*position), n, out.begin());
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(), std::int16_t{0});
        *position += n;
        return out.size();  // silence after the recording: never ends
    };
    air::SampleSink sink = [played](std::span<const std::int16_t> samples) {
        played->insert(played->end(), samples.begin(), samples.end());
        return true;
    };
    return std::make_unique<air::FileAir>("WAV file: " + capture_path, std::move(source), "WAV file: " + playback_path,
                                          std::move(sink));
}

namespace {

struct Fd {
    int fd = -1;
    bool owned = false;
    ~Fd() {
        if (owned && fd >= 0) ::close(fd);
    }
};

std::shared_ptr<Fd> OpenInput(const std::string& path) {
    auto f = std::make_shared<Fd>();
    if (path == "-") {
        f->fd = 0;
        return f;
    }
    f->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (f->fd < 0) throw ToolError(path + ": cannot open (" + std::strerror(errno) + ")");
    f->owned = true;
    return f;
}

std::shared_ptr<Fd> OpenOutput(const std::string& path) {
    auto f = std::make_shared<Fd>();
    if (path == "-") {
        f->fd = 1;
        return f;
    }
    struct stat st{};
    const bool fifo = ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    // Read-write on a FIFO does not wait for the reader to open it.
    f->fd = fifo ? ::open(path.c_str(), O_RDWR | O_CLOEXEC) : ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (f->fd < 0) throw ToolError(path + ": cannot open (" + std::strerror(errno) + ")");
    f->owned = true;
    return f;
}

}  // namespace

std::unique_ptr<air::FileAir> MakeStreamAir(const std::string& capture_path, const std::string& playback_path) {
    std::signal(SIGPIPE, SIG_IGN);  // a reader that went away ends the run through a failed write
    auto out = OpenOutput(playback_path);
    auto in = OpenInput(capture_path);
    // One byte buffer each way, reused every 10 ms.
    air::SampleSource source = [in, bytes = std::vector<std::uint8_t>()](std::span<std::int16_t> samples) mutable {
        bytes.resize(samples.size() * 2);
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(in->fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        const std::size_t whole = got / 2;
        for (std::size_t i = 0; i < whole; ++i)
            samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        return whole;
    };
    air::SampleSink sink = [out, bytes = std::vector<std::uint8_t>()](std::span<const std::int16_t> samples) mutable {
        bytes.resize(samples.size() * 2);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const auto v = static_cast<std::uint16_t>(samples[i]);
            bytes[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
            bytes[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        std::size_t put = 0;
        while (put < bytes.size()) {
            const ssize_t n = ::write(out->fd, bytes.data() + put, bytes.size() - put);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            put += static_cast<std::size_t>(n);
        }
        return true;
    };
    return std::make_unique<air::FileAir>("Stream: " + capture_path, std::move(source), "Stream: " + playback_path,
                                          std::move(sink));
}

}  // namespace kavra::tools
