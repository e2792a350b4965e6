// Host-side helper for tools, tests and benchmarks: reads the receiver's flags after every
// sample, as the demodulation thread does, and gathers each frame's decoded bytes and figures.
// It allocates as frames grow, so it belongs next to the receiver, not inside it.
#pragma once

#include <cstdint>
#include <vector>

#include "modem/common/end_of_message.h"
#include "modem/common/receiver_output.h"

namespace kavra::modem {

struct ReceivedFrame {
    int mode = 0;                     // mode index reported with the frame's blocks
    std::vector<std::uint8_t> bytes;  // decoded bytes, cut before the end-of-message word
    bool eom = false;                 // the end-of-message word was found
    bool ended = false;               // the receiver reported the end of the frame
    int blocks = 0;
    int snr = kSnrNone;               // latest S/N figure at the end of the frame
    int snr_avg = kSnrNone;
    int snr_min = kSnrNone;
    int snr_max = kSnrNone;
    int freq_offset_hz = 0;           // measured carrier offset while the frame was received
};

class FrameCollector {
public:
    // Reads output.flags, clears them and takes whatever they announce.
    void Poll(ReceiverOutput& output);
    // Closes a frame whose end the receiver has not reported (input ran out).
    void Finish(const ReceiverOutput& output);

    const std::vector<ReceivedFrame>& frames() const { return frames_; }
    bool in_frame() const { return open_; }
    int sync_losses() const { return sync_losses_; }
    // The bytes of every frame, concatenated.
    std::vector<std::uint8_t> AllBytes() const;

private:
    void AddBits(const ReceiverOutput& output, bool block);
    void Close(const ReceiverOutput& output, bool ended);

    std::vector<ReceivedFrame> frames_;
    bool open_ = false;
    bool cut_ = false;             // end-of-message found: later bits are not part of the message
    EndOfMessageSearch eom_search_;
    long long bit_count_ = 0;      // bits of the open frame
    unsigned pending_ = 0;         // bits of the byte being packed, least significant first
    int pending_bits_ = 0;
    int sync_losses_ = 0;
};

}  // namespace kavra::modem
