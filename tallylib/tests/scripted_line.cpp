#include "scripted_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>

#include "clock.h"
#include "comm.h"
#include "modem.h"
#include "pump.h"
#include "state.h"
#include "status.h"
#include "tallylib.h"
#include "transmit.h"
#include "wait.h"

namespace scripted {

namespace {

Line theLine;

void Deliver()
{
    Line &l = theLine;
    while (!l.pending.empty() && l.pending.front().at <= l.now) {
        l.queue += l.pending.front().bytes;
        l.pending.erase(l.pending.begin());
    }
}

void CheckLimit()
{
    if (theLine.now > theLine.limit) {
        ADD_FAILURE() << "virtual time ran past " << theLine.limit << " ms";
        theLine.limit = ~0ul;
        TallyCard_Abort();
    }
}

void Pump()
{
    CheckLimit();
    if (theLine.onPump) theLine.onPump();
}

}  // namespace

Line &line() { return theLine; }

void Reset()
{
    theLine = Line{};
    _TimerResetAll();
    _PatternSlotsFree();
    _ModemSetConnected(0);
    _StateFinishTransmission();
}

void ArriveAt(unsigned long at, const std::string &bytes)
{
    Arrival a{at, bytes};
    auto it = std::upper_bound(theLine.pending.begin(), theLine.pending.end(), a,
                               [](const Arrival &x, const Arrival &y) { return x.at < y.at; });
    theLine.pending.insert(it, a);
    Deliver();
}

void ArriveAfter(unsigned long delay, const std::string &bytes) { ArriveAt(theLine.now + delay, bytes); }

std::string Written()
{
    std::string all;
    for (const Write &w : theLine.writes) all += w.bytes;
    return all;
}

std::vector<long> MessageIds()
{
    std::vector<long> ids;
    for (const Message &m : theLine.messages)
        if (m.level < STATUS_TRACE && m.id != 0) ids.push_back(m.id);
    return ids;
}

std::vector<std::string> TraceLines()
{
    std::vector<std::string> lines;
    for (const Message &m : theLine.messages)
        if (m.level == STATUS_TRACE) lines.push_back(m.text);
    return lines;
}

void Advance(unsigned long ms)
{
    unsigned long end = theLine.now + ms;
    // Stop at each arrival on the way, as a real line would deliver it.
    while (!theLine.pending.empty() && theLine.pending.front().at < end) {
        if (theLine.pending.front().at > theLine.now) theLine.now = theLine.pending.front().at;
        Deliver();
        if (!theLine.queue.empty()) return;
    }
    theLine.now = end;
    Deliver();
}

Responder HayesModem(const ModemScript &script)
{
    auto probes = std::make_shared<int>(script.silentProbes);
    return [script, probes](const std::string &w) -> Reply {
        if (w.rfind("ATE1V1Q0\r", 0) == 0) {
            if (*probes > 0) {
                --*probes;
                return {};
            }
            return {w + "\r\nOK\r\n"};
        }
        if (w.rfind("ATD", 0) == 0) return {w + "\r\n" + script.connect + "\r\n", 200};
        if (w.rfind("AT", 0) == 0) return {w + "\r\nOK\r\n"};
        if (w == "+++") return {"\r\nOK\r\n", 50};
        if (!w.empty() && w.back() == '\n' && w.find('$') != std::string::npos && w.find('(') != std::string::npos)
            return {script.loginAnswer, 100};
        if (!w.empty() && w.back() == '\n') return {std::string(1, script.blockAnswer), 50};
        return {};
    };
}

}  // namespace scripted

using scripted::theLine;

// The line layer.
int _CommOpen(const char *port, long rate, char parity, int dataBits, int stopBits)
{
    theLine.events.push_back("open " + std::string(port) + " " + std::to_string(_CommPortRate(rate)));
    for (const std::string &missing : theLine.missingPorts)
        if (missing == port) return -1;
    theLine.open = true;
    theLine.settings = {port, _CommPortRate(rate), parity, dataBits, stopBits};
    return 0;
}

int _CommSetLine(long rate, char parity, int dataBits, int stopBits)
{
    if (!theLine.open) return -1;
    theLine.events.push_back("line " + std::to_string(_CommPortRate(rate)));
    if (theLine.setLineFails) return -1;
    theLine.settings.rate = _CommPortRate(rate);
    theLine.settings.parity = parity;
    theLine.settings.dataBits = dataBits;
    theLine.settings.stopBits = stopBits;
    return 0;
}

int _CommSetBaud(long rate)
{
    if (!theLine.open) return -1;
    theLine.events.push_back("baud " + std::to_string(_CommPortRate(rate)));
    theLine.settings.rate = _CommPortRate(rate);
    return 0;
}

int _CommSetDTR(int on)
{
    if (!theLine.open) return -1;
    theLine.events.push_back("dtr " + std::to_string(on));
    return theLine.dtrFails ? -1 : 0;
}

int _CommClose()
{
    if (!theLine.open) return 0;
    theLine.events.push_back("dtr 0");
    theLine.events.push_back("close");
    theLine.open = false;
    return 0;
}

long _CommCharsWaiting()
{
    if (!theLine.open) return 0;
    scripted::Deliver();
    if (theLine.queue.empty()) theLine.queue = theLine.endless;
    return static_cast<long>(theLine.queue.size());
}

int _CommReadChar()
{
    if (!theLine.open || theLine.queue.empty()) return 0xFF;
    unsigned char c = static_cast<unsigned char>(theLine.queue[0]);
    theLine.queue.erase(0, 1);
    if (!theLine.endless.empty()) ++theLine.now;
    return c;
}

int _CommWriteChar(unsigned char byte) { return _CommWriteString(&byte, 1) == 1 ? 0 : -1; }

long _CommWriteString(const void *buffer, long length)
{
    if (!theLine.open || length < 1) return -1;
    long taken = theLine.acceptPerWrite >= 0 && theLine.acceptPerWrite < length ? theLine.acceptPerWrite : length;
    std::string bytes(static_cast<const char *>(buffer), static_cast<size_t>(taken));
    theLine.writes.push_back({theLine.now, bytes});
    if (theLine.responder && taken == length) {
        scripted::Reply reply = theLine.responder(bytes);
        if (!reply.bytes.empty()) scripted::ArriveAfter(reply.delay, reply.bytes);
    }
    return taken;
}

void _CommWaitInput(unsigned long ms)
{
    if (!theLine.queue.empty()) return;
    scripted::Advance(ms);
}

unsigned long _ClockTick() { return theLine.now; }

// The pump.
void _PumpMessages() { scripted::Pump(); }

unsigned long _PumpMessagesFor(unsigned long ms)
{
    unsigned long end = theLine.now + ms;
    while (theLine.now < end) {
        scripted::Pump();
        unsigned long step = end - theLine.now < 10 ? end - theLine.now : 10;
        theLine.now += step;
        scripted::Deliver();
    }
    return ms;
}

unsigned long _WaitSeconds(unsigned long seconds) { return _PumpMessagesFor(seconds * 1000); }

// The status channel: every message recorded, whatever the level.
void _StatusOpen(void *, long level, TallyCard_StatusCallback)
{
    theLine.statusOpen = true;
    theLine.statusLevel = level;
}

int _StatusMessage(long level, long id, const char *format, ...)
{
    char text[162] = "";
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }
    theLine.messages.push_back({level, id, text});
    return 0;
}

int _StatusCodeMode() { return theLine.codeMode; }

void _StatusClose() { theLine.statusOpen = false; }
