// A virtual serial line with a scripted peer, and a virtual millisecond clock.
// Every TickCount call moves the clock on by one millisecond, so waits that poll
// the clock run out after a bounded number of polls and cost no real time.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

namespace fakeline {

typedef std::vector<uint8_t> Bytes;
// Called after each write call with the bytes of that call.
typedef std::function<void(const Bytes& written)> Peer;

void Reset(uint32_t startTick = 100000);
uint32_t Now();
void Advance(uint32_t milliseconds);
void SetTick(uint32_t tick);
// How far each TickCount call moves the clock (1 unless a test holds it still).
void SetTickStep(uint32_t milliseconds);

// Makes bytes readable delayMs from now.
void Deliver(const Bytes& bytes, uint32_t delayMs = 0);
size_t Pending();
void SetPeer(Peer peer);
void SetWritesFail(bool fail);
// Largest count one SerialReadBlock call returns.
void SetReadChunk(int16_t bytes);

// Every write call in order, and all written bytes joined.
const std::vector<Bytes>& Writes();
Bytes Written();
void ClearWritten();
// Read calls made since the reset: a wait that spins makes thousands.
unsigned Reads();

}  // namespace fakeline
