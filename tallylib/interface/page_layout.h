// Where a page of card text ends.
#pragma once

// Height of the first length characters of text laid out on a page.
using PageMeasure = long (*)(const char *text, long length, void *context);

struct PageCut {
    long length;  // characters drawn on this page
    int more;     // text remains after them
};

// The page takes the whole text when it fits; otherwise the longest prefix
// that ends at a line break and fits, the line-break characters staying for
// the next page. A first paragraph taller than the page is split inside,
// after the last blank that fits, so that every page makes progress.
// The measured height is taken to grow with the prefix.
PageCut _PageCut(const char *text, long length, long pageHeight, PageMeasure measure, void *context);
