// The login and the whole transmission on a scripted modem and service.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <cstring>
#include <string>
#include <vector>

#include "block_decoder.h"
#include "blocks.h"
#include "comm.h"
#include "modem.h"
#include "scripted_line.h"
#include "state.h"
#include "substitution.h"
#include "tallylib.h"
#include "temp_card.h"
#include "transmit.h"
#include "wait.h"

namespace {

using scripted::line;

std::string phoneNumber;

class Transmit : public ::testing::Test {
protected:
    void SetUp() override
    {
        scripted::Reset();
        _SubstituteClearAll();
        TallyCard_Speaker(1);
        phoneNumber = "5551234";
    }
    void TearDown() override
    {
        _CommClose();
        scripted::Reset();
    }
    static long Run(const char *card, long speed = 2400, long blockSize = 1024, long protocol = 2, long port = 1,
                    const char *customer = "AB")
    {
        return TallyCard_Transmit(0, nullptr, nullptr, 4, card, phoneNumber.c_str(), customer, 3, 60, port, speed, protocol,
                                  blockSize, 0);
    }
    static std::vector<long> Tail(size_t n)
    {
        std::vector<long> ids = scripted::MessageIds();
        return std::vector<long>(ids.size() > n ? ids.end() - static_cast<long>(n) : ids.begin(), ids.end());
    }
    static bool Has(long id)
    {
        std::vector<long> ids = scripted::MessageIds();
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    }
    // The login line and the decoded payloads of every block after it.
    static std::string Received(std::string *loginLine)
    {
        std::string all = scripted::Written();
        size_t at = all.find("$(1.6) ");
        if (at == std::string::npos) return "<no login>";
        size_t start = all.rfind("006", at);
        size_t end = all.find('\n', at);
        *loginLine = all.substr(start, end + 1 - start);
        std::string key = loginLine->substr(at + 7 - start, end - at - 7);
        std::string payloads;
        for (const scripted::Write &w : line().writes) {
            if (w.bytes.size() < 2 || w.bytes.back() != '\n' || w.bytes == *loginLine) continue;
            std::string payload, why;
            if (!decoder::Decode(w.bytes, key, &payload, &why)) return "<" + why + ">";
            payloads += payload;
        }
        return payloads;
    }
};

TEST_F(Transmit, CustomerCode)
{
    const struct {
        const char *identifier;
        const char *code;
    } cases[] = {{"", "006NO_ID"},
                 {nullptr, "006NO_ID"},
                 {"AB CDEF", "006AB"},
                 {"ABCDEFGHIJKLMNOPQRST", "006ABCDEFGHIJK"},
                 {"ABCDEFGHIJK", "006ABCDEFGHIJK"},
                 {" lead", "006"}};
    for (const auto &c : cases) {
        char code[CUSTOMER_CODE_SIZE];
        _TransmitCustomerCode(c.identifier, code);
        EXPECT_STREQ(c.code, code) << (c.identifier ? c.identifier : "null");
    }
}

TEST_F(Transmit, LoginLineAndKey)
{
    char text[LOGIN_TEXT_SIZE];
    _TransmitLoginText("006AB", 2, 1024, text);
    EXPECT_STREQ("006AB!2#1024$(1.6)", text);
    EXPECT_EQ(18u, std::strlen(text));
    _CommOpen("1", 2400, 'N', 8, 1);
    line().responder = [](const std::string &) -> scripted::Reply { return {"\r\nLogin OK #"}; };
    char key[KEY_SIZE] = "";
    EXPECT_EQ(1, _Login(text, key, 20, 2400, 2400));
    std::string crc = decoder::Hex8(decoder::Crc32(text));
    crc.erase(0, crc.find_first_not_of('0'));
    EXPECT_EQ(std::string(text) + " " + crc + "\n", scripted::Written());
    EXPECT_EQ(crc, std::string(key));
    EXPECT_EQ(127, scripted::MessageIds().back());
}

struct LoginCase {
    const char *name;
    std::string answers;  // per line written: 'O' Login OK, 'N' NAK, 'C' NO CARRIER, '-' silence
    long speed, startSpeed;
    int result;
    size_t writes;
};

class Login : public Transmit, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(Login, AnswersToTheLoginLine)
{
    const LoginCase &c = GetParam();
    _CommOpen("1", 19200, 'N', 8, 1);
    auto position = std::make_shared<size_t>(0);
    std::string answers = c.answers;
    line().responder = [answers, position](const std::string &) -> scripted::Reply {
        char a = answers[*position < answers.size() ? *position : answers.size() - 1];
        ++*position;
        if (a == 'O') return {"Login OK #"};
        if (a == 'N') return {"\x15"};
        if (a == 'C') return {"\r\nNO CARRIER\r\n"};
        return {};
    };
    char key[KEY_SIZE];
    EXPECT_EQ(c.result, _Login("006AB!2#1024$(1.6)", key, 20, c.speed, c.startSpeed));
    EXPECT_EQ(c.writes, line().writes.size());
}

INSTANTIATE_TEST_SUITE_P(Cases, Login, ::testing::Values(
    LoginCase{"ok", "O", 2400, 2400, 1, 1},
    LoginCase{"four_naks_count_as_verified", "NNNN", 2400, 2400, 1, 4},
    LoginCase{"nak_then_ok", "NO", 2400, 2400, 1, 2},
    LoginCase{"no_carrier", "NC", 2400, 2400, 0, 2},
    LoginCase{"silence_twenty_passes", "-", 2400, 2400, 0, 20},
    LoginCase{"silence_then_ok", "---O", 2400, 2400, 1, 4}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Transmit, LoginFallsBackToTheStartingSpeedBeforeTheSixthPass)
{
    _CommOpen("1", 14400, 'N', 8, 1);
    size_t writesAtSwitch = 0;
    line().responder = [&writesAtSwitch](const std::string &) -> scripted::Reply {
        if (line().events.back() == "baud 2400" && writesAtSwitch == 0) writesAtSwitch = line().writes.size();
        return writesAtSwitch ? scripted::Reply{"Login OK #"} : scripted::Reply{};
    };
    char key[KEY_SIZE];
    EXPECT_EQ(1, _Login("006AB!2#1024$(1.6)", key, 20, 14400, 2400));
    EXPECT_EQ(6u, writesAtSwitch);
    std::vector<std::string> traces = scripted::TraceLines();
    EXPECT_NE(traces.end(), std::find(traces.begin(), traces.end(), "6 login errors - Resetting baud rate to 2400 baud."));
    EXPECT_EQ(1, std::count(line().events.begin(), line().events.end(), std::string("baud 2400")));
}

TEST_F(Transmit, WholeTransmission)
{
    const std::string text = "Name: Ann\r\nCity: Lund\r\n" + std::string(2000, 'r') + "\r\nend\r\n\x1Atrailer";
    TempCard card(text);
    scripted::ModemScript script;
    script.connect = "CONNECT 14400/ARQ";
    line().responder = scripted::HayesModem(script);
    ASSERT_EQ(TALLY_OK, Run(card.path(), 19200, 1024, 2, 1, "AB CD"));
    // The hang-up's own progress comes between 303 and 401.
    std::vector<long> ids = scripted::MessageIds();
    auto at225 = std::find(ids.begin(), ids.end(), 225L);
    auto at303 = std::find(at225, ids.end(), 303L);
    EXPECT_NE(ids.end(), at303);
    EXPECT_EQ(std::vector<long>{401}, Tail(1));
    std::string loginLine;
    EXPECT_EQ("Name: Ann\nCity: Lund\n" + std::string(2000, 'r') + "\nend\n", Received(&loginLine));
    EXPECT_EQ(0u, loginLine.rfind("006AB!2#1024$(1.6) ", 0));
    EXPECT_TRUE(Has(108));  // found a modem
    EXPECT_TRUE(Has(106));  // switched to the connect speed
    EXPECT_EQ("baud 19200", std::string(*std::find_if(line().events.begin(), line().events.end(), [](const std::string &e) {
        return e.rfind("baud", 0) == 0;
    })));
    EXPECT_FALSE(line().open);
    EXPECT_FALSE(line().statusOpen);
    EXPECT_EQ(0, _StateBusy());
    EXPECT_EQ(std::string("006AB"), _SubstituteValue("$I"));
}

// Silences the modem for the commands that start with any of the prefixes.
scripted::Responder Without(scripted::Responder modem, std::vector<std::string> prefixes)
{
    return [modem, prefixes](const std::string &w) -> scripted::Reply {
        for (const std::string &p : prefixes)
            if (w.rfind(p, 0) == 0) return {};
        return modem(w);
    };
}

struct FailureCase {
    const char *name;
    std::function<void()> arrange;
    long result;
    std::vector<long> lastIds;
};

class Failure : public Transmit, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failure, EndsWithItsCodeAndMessages)
{
    const FailureCase &c = GetParam();
    TempCard card("Name: Ann\r\n");
    line().responder = scripted::HayesModem({});
    c.arrange();
    EXPECT_EQ(c.result, Run(card.path()));
    EXPECT_EQ(c.lastIds, Tail(c.lastIds.size()));
    EXPECT_FALSE(line().open);
    EXPECT_FALSE(line().statusOpen);
    EXPECT_EQ(0, _StateBusy());
    EXPECT_EQ(0, _StateAbort());
    for (int i = 0; i < TIMER_SLOTS; ++i) EXPECT_EQ(-1, _TimerRemaining(i));
}

scripted::ModemScript Script(const char *connect, const char *login, char block)
{
    scripted::ModemScript s;
    s.connect = connect;
    s.loginAnswer = login;
    s.blockAnswer = block;
    return s;
}

INSTANTIATE_TEST_SUITE_P(Cases, Failure, ::testing::Values(
    FailureCase{"no_modem", [] { line().responder = nullptr; }, TALLY_ERR_NO_MODEM, {501}},
    FailureCase{"dial_fails", [] { line().responder = scripted::HayesModem(Script("BUSY", "", 6)); },
                TALLY_ERR_DIAL, {107, 111, 315}},
    FailureCase{"login_not_verified", [] { line().responder = scripted::HayesModem(Script("CONNECT 2400", "", 6)); },
                TALLY_ERR_LOGIN, {123, 307, 309, 311}},
    FailureCase{"login_no_carrier",
                [] { line().responder = scripted::HayesModem(Script("CONNECT 2400", "NO CARRIER", 6)); },
                TALLY_ERR_LOGIN, {301, 123, 307, 309, 311}},
    FailureCase{"blocks_refused", [] { line().responder = scripted::HayesModem(Script("CONNECT", "Login OK #", 0x15)); },
                TALLY_ERR_BLOCKS, {227, 303, 307, 309, 311, 507}},
    FailureCase{"not_hung_up", [] { line().responder = Without(scripted::HayesModem({}), {"+++", "ATH", "ATQ0E1H"}); },
                TALLY_ERR_HANGUP, {303, 307, 307, 307, 307, 307, 313}},
    FailureCase{"phone_number_too_long", [] { phoneNumber.assign(PHONE_NUMBER_MAX + 1, '5'); }, TALLY_ERR_DIAL, {108, 315}},
    FailureCase{"abort_during_dial",
                [] {
                    line().onPump = [] {
                        if (!line().writes.empty() && line().writes.back().bytes.rfind("ATD", 0) == 0) TallyCard_Abort();
                    };
                },
                TALLY_ERR_ABORTED, {503, 315}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Transmit, AfterAnAbortTheNextCallRunsNormally)
{
    TempCard card("x");
    line().responder = scripted::HayesModem({});
    line().onPump = [] {
        if (line().writes.size() == 1) TallyCard_Abort();  // during the search
    };
    EXPECT_EQ(TALLY_ERR_ABORTED, Run(card.path()));
    EXPECT_EQ(std::vector<long>{503}, Tail(1));
    EXPECT_TRUE(std::find(line().events.begin(), line().events.end(), "open 1 2400") != line().events.end());
    line().onPump = nullptr;
    line().messages.clear();
    EXPECT_EQ(TALLY_OK, Run(card.path()));
    EXPECT_EQ(401, Tail(1)[0]);
}

TEST_F(Transmit, MissingCardTouchesNothing)
{
    EXPECT_EQ(TALLY_ERR_FILE, Run("/nonexistent/card.txt"));
    EXPECT_EQ(TALLY_ERR_FILE, Run(nullptr));
    EXPECT_EQ(-1, line().statusLevel);  // the channel never opened
    EXPECT_TRUE(line().events.empty());
    EXPECT_TRUE(line().messages.empty());
    EXPECT_EQ(0, _StateBusy());
}

TEST_F(Transmit, SecondCallWhileRunningIsBusy)
{
    TempCard card("x");
    line().responder = scripted::HayesModem({});
    long inner = -1;
    line().onPump = [&inner, &card] {
        if (inner == -1 && line().now > 3000) inner = Run(card.path());
    };
    EXPECT_EQ(TALLY_OK, Run(card.path()));
    EXPECT_EQ(TALLY_ERR_BUSY, inner);
}

struct ValidationCase {
    const char *name;
    long speed, blockSize, protocol, port;
    std::string firstOpen;
    std::string loginHead;
    long protocolMessage;  // 0 none
};

class Validation : public Transmit, public ::testing::WithParamInterface<ValidationCase> {};

TEST_P(Validation, ArgumentsOutsideTheirRange)
{
    const ValidationCase &c = GetParam();
    TempCard card("x");
    line().responder = scripted::HayesModem(Script("CONNECT", "Login OK #", 6));
    EXPECT_EQ(TALLY_OK, Run(card.path(), c.speed, c.blockSize, c.protocol, c.port));
    EXPECT_EQ(c.firstOpen, line().events.front());
    std::string loginLine;
    EXPECT_EQ("x", Received(&loginLine));
    EXPECT_EQ(0u, loginLine.rfind(c.loginHead, 0)) << loginLine;
    for (long id : {203L, 205L, 207L, 209L, 211L}) EXPECT_EQ(id == c.protocolMessage, Has(id)) << id;
}

INSTANTIATE_TEST_SUITE_P(Cases, Validation, ::testing::Values(
    ValidationCase{"small_block", 2400, 100, 2, 1, "open 1 2400", "006AB!2#128$(1.6) ", 0},
    ValidationCase{"large_block", 2400, 4096, 2, 1, "open 1 2400", "006AB!2#2048$(1.6) ", 0},
    ValidationCase{"protocol_14", 2400, 1024, 14, 1, "open 1 2400", "006AB!2#1024$(1.6) ", 0},
    ValidationCase{"protocol_11", 2400, 1024, 11, 1, "open 1 2400", "006AB!11#1024$(1.6) ", 205},
    ValidationCase{"protocol_5", 2400, 1024, 5, 1, "open 1 2400", "006AB!5#1024$(1.6) ", 211},
    ValidationCase{"port_0", 2400, 1024, 2, 0, "open 1 2400", "006AB!2#", 0},
    ValidationCase{"port_5", 2400, 1024, 2, 5, "open 1 2400", "006AB!2#", 0},
    ValidationCase{"port_3", 9600, 1024, 2, 3, "open 3 9600", "006AB!2#", 0},
    ValidationCase{"speed_0", 0, 1024, 2, 1, "open 1 2400", "006AB!2#", 0},
    ValidationCase{"speed_57600", 57600, 1024, 2, 1, "open 1 2400", "006AB!2#", 0}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
