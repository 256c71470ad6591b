// The modem search, the dial and the hang-up against a scripted modem.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "comm.h"
#include "modem.h"
#include "scripted_line.h"
#include "state.h"
#include "substitution.h"
#include "tallylib.h"
#include "wait.h"

namespace {

using scripted::line;

class ModemControl : public ::testing::Test {
protected:
    void SetUp() override
    {
        scripted::Reset();
        _SubstituteClearAll();
        TallyCard_Speaker(1);
    }
    void TearDown() override
    {
        _CommClose();
        scripted::Reset();
        TallyCard_Speaker(1);
    }
    static std::vector<std::string> Events(const std::string &prefix)
    {
        std::vector<std::string> out;
        for (const std::string &e : line().events)
            if (e.rfind(prefix, 0) == 0) out.push_back(e);
        return out;
    }
    static std::vector<std::string> WriteTexts()
    {
        std::vector<std::string> out;
        for (const scripted::Write &w : line().writes) out.push_back(w.bytes);
        return out;
    }
    static bool Has(const std::vector<long> &ids, long id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); }
};

struct ProbeCase {
    const char *name;
    long speed;
    long answeringRate;  // 0: no modem
    std::vector<std::string> lineEvents;
    int result;
    long speedAfter;
};

class Probe : public ModemControl, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(Probe, TriesTheSearchRatesDownFromTheRequestedOne)
{
    const ProbeCase &c = GetParam();
    line().responder = [&c](const std::string &w) -> scripted::Reply {
        if (w == "ATE1V1Q0\r" && line().settings.rate == c.answeringRate) return {w + "\r\nOK\r\n"};
        return {};
    };
    long speed = c.speed;
    EXPECT_EQ(c.result, _ModemProbe(1, &speed, 100));
    EXPECT_EQ(c.lineEvents, Events("line "));
    EXPECT_EQ(c.speedAfter, speed);
    EXPECT_FALSE(line().open);
    // Each rate gets two tries of the set-up command.
    size_t tried = c.lineEvents.size();
    if (c.result == 1) EXPECT_EQ(2 * tried - 1, line().writes.size());
    else EXPECT_EQ(2 * tried, line().writes.size());
}

INSTANTIATE_TEST_SUITE_P(Cases, Probe, ::testing::Values(
    ProbeCase{"from_19200_none", 19200, 0, {"line 19200", "line 9600", "line 2400", "line 1200"}, 0, 19200},
    ProbeCase{"from_19200_stops_at_ok", 19200, 9600, {"line 19200", "line 9600"}, 1, 9600},
    ProbeCase{"from_2400", 2400, 0, {"line 2400", "line 1200"}, 0, 2400},
    ProbeCase{"from_0", 0, 1200, {"line 2400", "line 1200"}, 1, 1200},
    ProbeCase{"from_38400", 38400, 38400, {"line 38400"}, 1, 38400},
    ProbeCase{"from_4800_nothing_tried", 4800, 4800, {}, 0, 4800}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ModemControl, SearchGoesOnToCom4AndReportsWhatItCannotOpen)
{
    line().missingPorts = {"3"};
    line().responder = [](const std::string &w) -> scripted::Reply {
        if (w == "ATE1V1Q0\r" && line().settings.port == "4") return {"OK"};
        return {};
    };
    long speed = 2400;
    EXPECT_EQ(4, _ModemFind(2, &speed));
    std::vector<std::string> opens = {"open 2 2400", "open 3 2400", "open 4 2400"};
    EXPECT_EQ(opens, Events("open "));
    EXPECT_TRUE(Has(scripted::MessageIds(), 100));
    EXPECT_EQ(std::string("4"), _SubstituteValue("$P"));
    std::vector<std::string> traces = {"Finished search on COM2", "Finished search on COM3", "Finished search on COM4"};
    EXPECT_EQ(traces, scripted::TraceLines());

    // A port that refuses its speed is left at once.
    scripted::Reset();
    line().setLineFails = true;
    EXPECT_EQ(0, _ModemProbe(1, &speed, 100));
    EXPECT_TRUE(Has(scripted::MessageIds(), 102));
    EXPECT_TRUE(line().writes.empty());
}

TEST_F(ModemControl, FindModemExport)
{
    line().responder = [](const std::string &w) -> scripted::Reply {
        if (w == "ATE1V1Q0\r" && line().settings.port == "3" && line().settings.rate == 1200) return {"OK"};
        return {};
    };
    long port = 3, speed = 57600;  // not a line speed: searched from 2400
    EXPECT_EQ(1, TallyCard_FindModem(&port, &speed, 0));
    EXPECT_EQ(3, port);
    EXPECT_EQ(1200, speed);
    for (long bad : {0L, 5L}) {
        long p = bad, s = 2400;
        line().events.clear();
        EXPECT_EQ(0, TallyCard_FindModem(&p, &s, 0));
        EXPECT_EQ(bad, p);
        EXPECT_TRUE(line().events.empty());
    }
    EXPECT_EQ(0, TallyCard_FindModem(nullptr, &speed, 0));
}

TEST_F(ModemControl, FindModemLeavesARunningTransmissionsLineAlone)
{
    _CommOpen("2", 9600, 'N', 8, 1);
    _StateSetBusy(1);
    line().events.clear();
    line().responder = scripted::HayesModem({});
    long port = 1, speed = 2400;
    EXPECT_EQ(0, TallyCard_FindModem(&port, &speed, 0));
    EXPECT_TRUE(line().events.empty());
    EXPECT_TRUE(line().open);
    _StateSetBusy(0);
}

TEST_F(ModemControl, AbortStopsTheSearch)
{
    line().onPump = [] {
        if (line().now > 1500) TallyCard_Abort();
    };
    long speed = 19200;
    EXPECT_EQ(0, _ModemFind(1, &speed));
    EXPECT_EQ(1u, Events("open ").size());
    EXPECT_FALSE(line().open);
}

struct CommandCase {
    long flags;
    long speaker;
    const char *setup;
    const char *dial;
};

TEST_F(ModemControl, SetUpAndDialCommandsForTheFlags)
{
    const CommandCase cases[] = {{0, 1, "ATE1V1Q0X2M1\r", "ATDT5551234\r"},
                                 {4, 1, "ATE1V1Q0X2M1\r", "ATDP5551234\r"},
                                 {8, 0, "ATE1V1Q0X1M0\r", "ATDT5551234\r"},
                                 {12, 1, "ATE1V1Q0X1M1\r", "ATDP5551234\r"},
                                 {3, 2, "ATE1V1Q0X2M2\r", "ATDT5551234\r"}};
    for (const CommandCase &c : cases) {
        scripted::Reset();
        TallyCard_Speaker(c.speaker);
        line().responder = scripted::HayesModem({});
        long speed = 2400;
        EXPECT_EQ(1, _ModemDial("5551234", "2", &speed, 3, 3000, c.flags)) << c.flags;
        std::vector<std::string> expected = {c.setup, c.dial};
        EXPECT_EQ(expected, WriteTexts()) << c.flags;
        EXPECT_TRUE(line().open);
        EXPECT_EQ("2", line().settings.port);
        EXPECT_EQ(1, _ModemConnected());
    }
}

TEST_F(ModemControl, PhoneNumberMustFitTheDialCommand)
{
    char command[DIAL_COMMAND_SIZE];
    const std::string fits(PHONE_NUMBER_MAX, '5');
    EXPECT_TRUE(_ModemDialCommand(fits.c_str(), 0, command));
    EXPECT_EQ("ATDT" + fits + "\r", std::string(command));
    const std::string tooLong(PHONE_NUMBER_MAX + 1, '5');
    EXPECT_FALSE(_ModemDialCommand(tooLong.c_str(), 0, command));
    long speed = 2400;
    line().responder = scripted::HayesModem({});
    EXPECT_EQ(0, _ModemDial(std::string(5000, '5').c_str(), "1", &speed, 3, 3000, 0));
    EXPECT_TRUE(line().writes.empty());
    EXPECT_TRUE(line().events.empty());
}

TEST_F(ModemControl, RetriesStartWithFactorySettings)
{
    int dials = 0;
    line().responder = [&dials](const std::string &w) -> scripted::Reply {
        if (w.rfind("ATD", 0) == 0) return {++dials == 1 ? "BUSY\r\n" : "CONNECT\r\n", 500};
        if (w == "\r") return {"NO CARRIER\r\n"};
        return {"OK\r\n"};
    };
    long speed = 2400;
    EXPECT_EQ(2, _ModemDial("555", "1", &speed, 3, 3000, 0));
    std::vector<std::string> expected = {"ATE1V1Q0X2M1\r", "ATDT555\r", "\r", "AT&F\r", "ATE1V1Q0X2M1\r", "ATDT555\r"};
    EXPECT_EQ(expected, WriteTexts());
    EXPECT_EQ(2400, speed);
    std::vector<long> ids = scripted::MessageIds();
    EXPECT_EQ(1, std::count(ids.begin(), ids.end(), 111L));
    EXPECT_EQ(2, std::count(ids.begin(), ids.end(), 107L));

    // Every attempt failing: 0, the line left open.
    scripted::Reset();
    line().responder = [](const std::string &w) -> scripted::Reply {
        if (w.rfind("ATD", 0) == 0) return {"NO DIAL TONE\r\n"};
        return {"OK\r\n"};
    };
    EXPECT_EQ(0, _ModemDial("555", "1", &speed, 2, 3000, 0));
    EXPECT_TRUE(line().open);
    EXPECT_EQ(0, _ModemConnected());
}

struct ConnectCase {
    const char *name;
    std::string connectLine;
    long speedAfter;
    std::vector<std::string> baudEvents;
};

class Connect : public ModemControl, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(Connect, FollowsTheConnectSpeed)
{
    const ConnectCase &c = GetParam();
    scripted::ModemScript script;
    script.connect = c.connectLine;
    line().responder = scripted::HayesModem(script);
    _SubstituteSetValue("$B", "2400");
    long speed = 2400;
    EXPECT_EQ(1, _ModemDial("555", "1", &speed, 1, 3000, 0));
    EXPECT_EQ(c.speedAfter, speed);
    EXPECT_EQ(c.baudEvents, Events("baud "));
    EXPECT_EQ(std::to_string(c.speedAfter), std::string(_SubstituteValue("$B")));
    EXPECT_EQ(!c.baudEvents.empty(), Has(scripted::MessageIds(), 106));
}

INSTANTIATE_TEST_SUITE_P(Cases, Connect, ::testing::Values(
    ConnectCase{"faster", "CONNECT 14400", 14400, {"baud 19200"}},
    ConnectCase{"blanks_and_suffix", "CONNECT   9600/ARQ", 9600, {"baud 9600"}},
    ConnectCase{"same", "CONNECT 2400", 2400, {}},
    ConnectCase{"no_number", "CONNECT", 2400, {}},
    ConnectCase{"not_a_number", "CONNECT FAST", 2400, {}},
    ConnectCase{"huge_number", "CONNECT 99999999999999999999", 2400, {}},
    ConnectCase{"endless_line", "CONNECT 28800" + std::string(3000, '0'), 2400, {}}),
    [](const auto &info) { return std::string(info.param.name); });

struct HangUpCase {
    const char *name;
    bool dtrFails;
    // Answer to "+++", to "ATH\r" and to "ATQ0E1H\r"; empty: silence.
    std::string escapeAnswer, athAnswer, quietAnswer;
    std::string dtrAnswer;  // after DTR is dropped
    int result;
    std::vector<std::string> writes;
    long lastId;
};

class HangUp : public ModemControl, public ::testing::WithParamInterface<HangUpCase> {};

TEST_P(HangUp, DropsDtrThenEscapes)
{
    const HangUpCase &c = GetParam();
    _CommOpen("1", 2400, 'N', 8, 1);
    _ModemSetConnected(1);
    line().dtrFails = c.dtrFails;
    line().events.clear();
    line().responder = [&c](const std::string &w) -> scripted::Reply {
        if (w == "+++") return {c.escapeAnswer, 100};
        if (w == "ATH\r") return {c.athAnswer};
        if (w == "ATQ0E1H\r") return {c.quietAnswer};
        return {};
    };
    line().onPump = [&c] {
        if (!c.dtrAnswer.empty() && !line().events.empty() && line().events.back() == "dtr 0") {
            scripted::ArriveAfter(100, c.dtrAnswer);
            line().events.push_back("answered");
        }
    };
    EXPECT_EQ(c.result, _ModemHangUp("+++"));
    EXPECT_EQ(c.writes, WriteTexts());
    std::vector<long> ids = scripted::MessageIds();
    ASSERT_FALSE(ids.empty());
    EXPECT_EQ(c.lastId, ids.back());
    EXPECT_TRUE(line().open);
}

const std::vector<std::string> fivePasses = {"+++", "\r", "ATQ0E1H\r", "+++", "\r", "ATQ0E1H\r", "+++", "\r",
                                             "ATQ0E1H\r", "+++", "\r", "ATQ0E1H\r", "+++", "\r", "ATQ0E1H\r"};

INSTANTIATE_TEST_SUITE_P(Cases, HangUp, ::testing::Values(
    HangUpCase{"dtr_drop", false, "", "", "", "NO CARRIER\r\n", 1, {}, 305},
    HangUpCase{"escape_ok_then_ath", true, "\r\nOK\r\n", "OK\r\n", "", "", 1, {"+++", "ATH\r"}, 311},
    HangUpCase{"escape_no_carrier", false, "NO CARRIER", "", "", "", 1, {"+++"}, 301},
    HangUpCase{"escape_echoed", true, "+++", "\r\nOK\r\n", "", "", 1, {"+++", "ATH\r"}, 311},
    HangUpCase{"ath_never_answers", true, "OK", "", "", "", 0, {"+++", "ATH\r", "ATH\r", "ATH\r"}, 313},
    HangUpCase{"silent_then_quiet_ath", true, "", "", "OK", "", 1, {"+++", "\r", "ATQ0E1H\r"}, 311},
    HangUpCase{"never", true, "", "", "", "", 0, fivePasses, 313}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ModemControl, HangUpBeforeAnyCallTouchesNothing)
{
    _CommOpen("1", 2400, 'N', 8, 1);
    line().events.clear();
    EXPECT_EQ(1, _ModemHangUp("+++"));
    EXPECT_TRUE(line().writes.empty());
    EXPECT_TRUE(line().events.empty());
    EXPECT_EQ(std::vector<long>{315}, scripted::MessageIds());
}

}  // namespace
