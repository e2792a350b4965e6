// Fake ports and a one-station harness for tests that drive a LinkSession block by block.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/link_session.h"
#include "link/simulation.h"

namespace kavra::link::test {

class FakeClock : public Clock {
public:
    std::uint32_t NowMs() override { return now; }
    void SleepMs(std::uint32_t ms) override {
        sleeps.push_back(ms);
        now += ms;
    }
    std::uint32_t now = 0xFFFF0000u;  // close to the wrap
    std::vector<std::uint32_t> sleeps;
};

struct SentBurst {
    int mode;
    std::vector<ReceivedBlock> blocks;
    int Count(ControlCode c) const {
        int n = 0;
        for (const ReceivedBlock& b : blocks) n += b.code == static_cast<int>(c) ? 1 : 0;
        return n;
    }
};

class FakeSender : public BurstSender {
public:
    void KeyTransmitter() override { keyed = true; }
    void UnkeyTransmitter() override { keyed = false; }
    std::uint32_t StartBurst(std::span<const std::uint8_t> bytes, int data_mode) override {
        SentBurst burst{data_mode, {}};
        for (std::size_t i = 0; i + kLinkBlockSize <= bytes.size(); i += kLinkBlockSize) {
            ReceivedBlock b;
            EXPECT_EQ(ParseLinkBlock(bytes.subspan(i).first<kLinkBlockSize>(), b), ParseResult::Ok);
            burst.blocks.push_back(b);
        }
        bursts.push_back(burst);
        playing = true;
        return duration_ms;
    }
    bool IsPlaying() override { return playing && !stop_at_once; }
    bool keyed = false;
    bool playing = false;
    bool stop_at_once = true;  // the player is done by the next pass
    std::uint32_t duration_ms = 2400;
    std::vector<SentBurst> bursts;
};

using FakeReceiver = ScriptedReceiver;

inline LinkSettings Settings(const std::string& callsign, int modem_type = 0) {
    LinkSettings s;
    s.own_callsign = callsign;
    s.modem_type = modem_type;
    return s;
}

inline std::vector<std::uint8_t> CallsignPayload(const std::string& a, const std::string& b = {}, int extra = -1) {
    std::vector<std::uint8_t> p;
    const auto fa = MakeCallsignField(a);
    p.insert(p.end(), fa.begin(), fa.end());
    if (!b.empty()) {
        const auto fb = MakeCallsignField(b);
        p.insert(p.end(), fb.begin(), fb.end());
    }
    if (extra >= 0) p.push_back(static_cast<std::uint8_t>(extra));
    return p;
}

// One station whose peer is played by the test.
class Harness {
public:
    explicit Harness(const LinkSettings& settings = Settings("AB1CD"), FileSystem* files_override = nullptr)
        : session(LinkPorts{clock, ui, sender, receiver, files_override ? *files_override : files}, settings) {
        session.SetConnectAvailable(true);
    }

    // A block from the peer, through the pipeline's checks.
    void Receive(ControlCode code, std::span<const std::uint8_t> payload, int sequence = 0) {
        const LinkBlockBytes bytes = BuildLinkBlock(static_cast<int>(code), sequence, payload);
        ReceivedBlock b;
        ASSERT_EQ(ParseLinkBlock(bytes, b), ParseResult::Ok);
        if (AdmitsBlock(session.State(), b.code)) session.HandleReceivedBlock(b);
    }
    void Receive(ControlCode code, const std::vector<std::uint8_t>& payload, int sequence = 0) {
        Receive(code, std::span<const std::uint8_t>(payload), sequence);
    }
    void ReceiveData(int sequence, std::span<const std::uint8_t> piece) { Receive(ControlCode::Data, piece, sequence); }

    // Runs scheduler passes, a second apart, until a burst goes out (or the link ends); answers
    // whether one went out.
    bool Turn(int max_passes = 200) {
        const std::size_t before = sender.bursts.size();
        for (int i = 0; i < max_passes; ++i) {
            clock.now += 1000;
            session.SchedulerPass();
            if (sender.bursts.size() > before) return true;
            if (session.State() == LinkState::Idle) return false;
        }
        return false;
    }
    const SentBurst& Last() const { return sender.bursts.back(); }

    // The peer "EF2GH" calls and this station (auto-accepting) answers; then the peer's first
    // keep-alive completes the link.
    void ConnectAsCallee(const std::string& peer = "EF2GH") {
        Receive(ControlCode::ConnectRequest, CallsignPayload(session.OwnCallsign(), peer));
        Receive(ControlCode::ChatData, std::vector<std::uint8_t>{});
        ASSERT_EQ(session.State(), LinkState::Connected);
    }
    void ConnectAsCaller(const std::string& peer = "EF2GH") {
        session.ConnectTo(peer);
        Receive(ControlCode::ConnectReply, CallsignPayload(peer, {}, 255));
        ASSERT_EQ(session.State(), LinkState::Connected);
    }
    // A file offer from the peer, accepted automatically, then its first data block.
    void ReceiveOffer(std::uint32_t size, const std::string& name) {
        std::vector<std::uint8_t> p(59, 0);
        for (int i = 0; i < 4; ++i) p[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
        for (std::size_t i = 0; i < name.size() && i < 55; ++i) p[4 + i] = static_cast<std::uint8_t>(name[i]);
        Receive(ControlCode::FileOffer, p);
    }
    // This station's operator chooses `data` to send and confirms: the offer is pending.
    void Offer(const std::vector<std::uint8_t>& data, const std::string& path = "/data/file.bin") {
        files.files[path] = data;
        ui.next_file = path;
        session.SendFileClick();
        session.AnswerQuestion(true);
    }
    // This station offers `data` and the peer accepts.
    void StartSending(const std::vector<std::uint8_t>& data, const std::string& path = "/data/file.bin") {
        Offer(data, path);
        ReceiveFileReply();
    }
    // The offer goes out, and the peer's reply comes in a burst that begins after it.
    void ReceiveFileReply(int answer = 255) {
        ASSERT_TRUE(Turn());
        clock.now += sender.duration_ms + 600;
        ReceiveInBurst(ControlCode::FileReply, CallsignPayload("EF2GH", {}, answer));
    }
    // A block in a burst of its own: the activity flag rises (and the status refresh sees it)
    // before the block and falls after it.
    void ReceiveInBurst(ControlCode code, const std::vector<std::uint8_t>& payload) {
        receiver.receiving = true;
        session.StatusRefresh();
        Receive(code, payload);
        receiver.receiving = false;
        session.StatusRefresh();
    }

    std::uint64_t ui_time = 0;
    FakeClock clock;
    RecordingUi ui{ui_time};
    FakeSender sender;
    FakeReceiver receiver;
    MemoryFileSystem files;
    LinkSession session;
};

inline std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed = 1) {
    std::vector<std::uint8_t> v(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return v;
}

}  // namespace kavra::link::test
