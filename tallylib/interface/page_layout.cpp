#include "page_layout.h"

namespace {

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A cut lies where a run of line-end characters starts, after some text.
bool IsCut(const char *text, long at) { return at > 0 && IsLineEnd(text[at]) && !IsLineEnd(text[at - 1]); }

long CountCuts(const char *text, long length)
{
    long count = 0;
    for (long at = 1; at < length; ++at) count += IsCut(text, at);
    return count;
}

// Position of the cut with the given index (0-based), counted from the start.
long NthCut(const char *text, long length, long index)
{
    for (long at = 1; at < length; ++at)
        if (IsCut(text, at) && index-- == 0) return at;
    return 0;
}

// Largest n in [1, limit) whose prefix fits, or 0 when none does.
long LongestFittingPrefix(const char *text, long limit, long pageHeight, PageMeasure measure, void *context)
{
    long lo = 0, hi = limit - 1;
    while (lo < hi) {
        long mid = lo + (hi - lo + 1) / 2;
        if (measure(text, mid, context) <= pageHeight) lo = mid;
        else hi = mid - 1;
    }
    return lo;
}

PageCut SplitParagraph(const char *text, long length, long pageHeight, PageMeasure measure, void *context)
{
    long limit = CountCuts(text, length) > 0 ? NthCut(text, length, 0) : length;
    long fits = LongestFittingPrefix(text, limit, pageHeight, measure, context);
    if (fits < 1) return {1, length > 1};
    for (long at = fits - 1; at > 0; --at)
        if (IsBlank(text[at])) return {at + 1, 1};
    return {fits, 1};
}

}  // namespace

PageCut _PageCut(const char *text, long length, long pageHeight, PageMeasure measure, void *context)
{
    if (length <= 0 || measure(text, length, context) <= pageHeight) return {length < 0 ? 0 : length, 0};
    // Heights grow with the prefix: search the cuts instead of trying each.
    long lo = -1, hi = CountCuts(text, length) - 1;
    while (lo < hi) {
        long mid = lo + (hi - lo + 1) / 2;
        if (measure(text, NthCut(text, length, mid), context) <= pageHeight) lo = mid;
        else hi = mid - 1;
    }
    if (lo >= 0) return {NthCut(text, length, lo), 1};
    return SplitParagraph(text, length, pageHeight, measure, context);
}
