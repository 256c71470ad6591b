// Tiny checks for the test programs that run under Wine: each failed check
// prints where and why; the program's exit code is the number of failures.
#pragma once

#include <cstdio>
#include <string>

inline int &CheckFailures()
{
    static int failures = 0;
    return failures;
}

inline void CheckReport(bool ok, const char *file, int line, const std::string &what)
{
    if (ok) return;
    ++CheckFailures();
    std::printf("%s:%d: FAILED %s\n", file, line, what.c_str());
    std::fflush(stdout);
}

inline std::string CheckShow(long v) { return std::to_string(v); }
inline std::string CheckShow(int v) { return std::to_string(v); }
inline std::string CheckShow(unsigned long long v) { return std::to_string(v); }
inline std::string CheckShow(bool v) { return v ? "true" : "false"; }
inline std::string CheckShow(char v) { return std::string(1, v); }
inline std::string CheckShow(const std::string &v) { return "\"" + v + "\""; }
inline std::string CheckShow(const char *v) { return v ? "\"" + std::string(v) + "\"" : "null"; }

template <typename W, typename G>
inline void CheckEqual(const W &want, const G &got, const char *file, int line, const std::string &context,
                       const char *expression)
{
    bool ok = want == got;
    CheckReport(ok, file, line, ok ? "" : context + ": " + expression + " = " + CheckShow(got) + ", want " + CheckShow(want));
}

#define CHECK(cond) CheckReport((cond), __FILE__, __LINE__, #cond)
// Each argument is evaluated once.
#define CHECK_EQ(want, got, context) CheckEqual((want), (got), __FILE__, __LINE__, (context), #got)
