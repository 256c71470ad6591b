// Scripted peers for the virtual line.
#pragma once
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "codec.h"
#include "fake_line.h"

namespace peers {
using fakeline::Bytes;

inline Bytes B(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}
inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A packet as a sender puts it on the wire.
inline Bytes MakePacket(uint8_t number, const Bytes& data, bool longPacket) {
    int length = longPacket ? LongData : ShortData;
    Bytes packet{static_cast<uint8_t>(longPacket ? STX : SOH), number,
                 static_cast<uint8_t>(number ^ 0xFF)};
    Bytes field(length, 0);
    for (size_t i = 0; i < data.size() && i < field.size(); ++i) field[i] = data[i];
    uint16_t crc = Crc16(field.data(), length);
    packet.insert(packet.end(), field.begin(), field.end());
    packet.push_back(static_cast<uint8_t>(crc >> 8));
    packet.push_back(static_cast<uint8_t>(crc));
    return packet;
}

inline Bytes MakeHeader(const std::string& path, uint32_t size) {
    bool longHeader = path.size() >= 124;
    Bytes data(longHeader ? LongData : ShortData, 0);
    for (size_t i = 0; i < path.size() && i < data.size(); ++i) data[i] = static_cast<uint8_t>(path[i]);
    size_t at = longHeader ? 1020 : 124;
    ToBigEndian32(size, data.data() + at);
    return MakePacket(0, data, longHeader);
}

inline Bytes EndOfBatchBlock() { return MakePacket(0, Bytes(), false); }

// Plays a script against the engine: each step waits until the engine has
// written exactly `expect` (since the previous step), then delivers `send`.
// A divergence is recorded and stops the script.
struct Step {
    Bytes expect;
    Bytes send;
    uint32_t delayMs = 0;
};

class Script {
public:
    explicit Script(std::vector<Step> steps) : steps_(std::move(steps)) {}
    // Installs the peer; delivers the first step at once if it expects nothing.
    void Start() {
        fakeline::SetPeer([this](const Bytes& w) { OnWrite(w); });
        Advance();
    }
    bool Finished() const { return next_ == steps_.size(); }
    bool Diverged() const { return diverged_; }
    size_t StepsDone() const { return next_; }
    const Bytes& Unmatched() const { return pending_; }

private:
    void OnWrite(const Bytes& written) {
        pending_.insert(pending_.end(), written.begin(), written.end());
        Advance();
    }
    void Advance() {
        while (!diverged_ && next_ < steps_.size()) {
            const Bytes& expect = steps_[next_].expect;
            size_t n = std::min(expect.size(), pending_.size());
            if (!std::equal(pending_.begin(), pending_.begin() + n, expect.begin())) {
                diverged_ = true;
                return;
            }
            if (pending_.size() < expect.size()) return;
            pending_.erase(pending_.begin(), pending_.begin() + expect.size());
            fakeline::Deliver(steps_[next_].send, steps_[next_].delayMs);
            ++next_;
        }
    }
    std::vector<Step> steps_;
    size_t next_ = 0;
    Bytes pending_;
    bool diverged_ = false;
};

// A receiver that answers like a healthy peer unless a test's rule says otherwise.
struct ReceiverPeer {
    enum Answer { Normal, Nak, Silent };
    std::vector<Bytes> frames;                   // every write of the side under test
    std::function<Answer(const Bytes& frame, size_t index)> rule;
    bool expectHeader = true;

    // Sends the first ready byte now, or, with a link, once the link request comes.
    void Install(bool link = false) {
        if (!link) fakeline::Deliver(B({Ready}));
        fakeline::SetPeer([this](const Bytes& w) { OnFrame(w); });
    }
    void OnFrame(const Bytes& w) {
        if (w == B({LinkRequest})) {
            fakeline::Deliver(B({LinkAccept, Ready}));
            return;
        }
        frames.push_back(w);
        Answer answer = rule ? rule(w, frames.size() - 1) : Normal;
        if (answer == Silent) return;
        if (answer == Nak) {
            fakeline::Deliver(B({NAK}));
            return;
        }
        bool packet = w.size() == ShortPacket || w.size() == LongPacket;
        if (packet && expectHeader) {
            bool end = w[3] == 0;
            fakeline::Deliver(end ? B({ACK}) : B({ACK, Ready}));
            expectHeader = end;
        } else if (packet) {
            fakeline::Deliver(B({ACK}));
        } else if (w == B({EOT})) {
            fakeline::Deliver(B({ACK, Ready}));
            expectHeader = true;
        }
    }
    std::vector<Bytes> Packets() const {
        std::vector<Bytes> out;
        for (const Bytes& f : frames)
            if (f.size() == ShortPacket || f.size() == LongPacket) out.push_back(f);
        return out;
    }
    size_t Count(const Bytes& frame) const { return std::count(frames.begin(), frames.end(), frame); }
};

}  // namespace peers
