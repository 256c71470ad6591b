// A scripted modem line on a virtual clock, standing in for the serial line,
// the tick, the message pump and the status channel of the modem code.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace scripted {

struct Arrival {
    unsigned long at;
    std::string bytes;
};

struct Write {
    unsigned long at;
    std::string bytes;
};

struct Message {
    long level;
    long id;
    std::string text;
};

struct LineSettings {
    std::string port;
    long rate = 0;
    char parity = 0;
    int dataBits = 0;
    int stopBits = 0;
};

// Answers one write call: the bytes to arrive after delay ms (none when empty).
struct Reply {
    std::string bytes;
    unsigned long delay = 20;
};
using Responder = std::function<Reply(const std::string &written)>;

struct Line {
    unsigned long now = 1000;
    std::vector<Arrival> pending;     // ordered by time
    std::string queue;                // arrived, not read
    std::vector<Write> writes;
    std::vector<Message> messages;
    std::vector<std::string> events;  // "open 1 19200", "baud 19200", "dtr 0", "close", "line 9600"
    std::vector<std::string> missingPorts;
    Responder responder;
    bool open = false;
    bool dtrFails = false;
    bool setLineFails = false;
    std::string endless;              // repeated forever, a byte a millisecond
    long acceptPerWrite = -1;         // bytes a write takes; -1 all
    LineSettings settings;
    int codeMode = 0;
    long statusLevel = -1;
    bool statusOpen = false;
    std::function<void()> onPump;     // runs at every message dispatch
    unsigned long limit = 4000000;    // virtual ms before the run is stopped
};

Line &line();
// A fresh line at the virtual time 1000 ms, every module state of the modem
// code reset.
void Reset();
// Bytes that reach the input queue at the given virtual time.
void ArriveAt(unsigned long at, const std::string &bytes);
void ArriveAfter(unsigned long delay, const std::string &bytes);
// Everything written, in order.
std::string Written();
// Ids of the level 1 to 3 messages, in order.
std::vector<long> MessageIds();
std::vector<std::string> TraceLines();
// Advances the virtual clock, delivering what falls due.
void Advance(unsigned long ms);

// A Hayes modem with a service behind it: answers "AT..." commands with
// "OK", the dial with "CONNECT <speed>", the login line and each block.
struct ModemScript {
    std::string connect = "CONNECT 2400";
    std::string loginAnswer = "Login OK #";
    char blockAnswer = 0x06;
    int silentProbes = 0;       // probe commands that get no answer
};
Responder HayesModem(const ModemScript &script);

}  // namespace scripted
