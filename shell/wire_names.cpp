#include "wire_names.h"

#include <cstdint>
#include <cstring>

namespace {

// Code page 1252 bytes 0x80 to 0x9F; 0 where the code page defines nothing.
const uint16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

const char kMissing = '_';

// Bounded output that remembers whether everything fitted.
struct Out {
    char* text;
    size_t size;
    size_t used;
    bool fits;

    void Put(const char* bytes, size_t n) {
        if (!fits || used + n >= size) {
            fits = false;
            return;
        }
        memcpy(text + used, bytes, n);
        used += n;
    }
    void Put(char c) { Put(&c, 1); }
    bool Finish() {
        if (size == 0) return false;
        text[fits ? used : 0] = '\0';
        return fits;
    }
};

void Mark(bool* lossy) {
    if (lossy != nullptr) *lossy = true;
}

// Decodes one UTF-8 character at in; its length in *length, or 0 for a broken
// sequence (overlong forms and surrogates included), whose first byte is then
// skipped.
uint32_t DecodeUtf8(const unsigned char* in, size_t* length) {
    unsigned char c = in[0];
    size_t n;
    uint32_t code;
    uint32_t least;
    if (c < 0x80) {
        *length = 1;
        return c;
    }
    if ((c & 0xE0) == 0xC0) { n = 2; code = c & 0x1F; least = 0x80; }
    else if ((c & 0xF0) == 0xE0) { n = 3; code = c & 0x0F; least = 0x800; }
    else if ((c & 0xF8) == 0xF0) { n = 4; code = c & 0x07; least = 0x10000; }
    else { *length = 0; return 0; }
    for (size_t i = 1; i < n; ++i) {
        if ((in[i] & 0xC0) != 0x80) {  // also stops at the terminating NUL
            *length = 0;
            return 0;
        }
        code = (code << 6) | (in[i] & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        *length = 0;
        return 0;
    }
    *length = n;
    return code;
}

void EncodeUtf8(uint32_t code, Out* out) {
    char bytes[3];
    if (code < 0x80) {
        out->Put(static_cast<char>(code));
    } else if (code < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | (code >> 6));
        bytes[1] = static_cast<char>(0x80 | (code & 0x3F));
        out->Put(bytes, 2);
    } else {
        bytes[0] = static_cast<char>(0xE0 | (code >> 12));
        bytes[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (code & 0x3F));
        out->Put(bytes, 3);
    }
}

int Cp1252Byte(uint32_t code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<int>(code);
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] != 0 && kHigh[i] == code) return 0x80 + i;
    }
    return -1;
}

}  // namespace

bool ParseWireNames(const char* text, WireNames* names) {
    if (strcmp(text, "cp1252") == 0) *names = WireCp1252;
    else if (strcmp(text, "utf-8") == 0) *names = WireUtf8;
    else if (strcmp(text, "bytes") == 0) *names = WireBytes;
    else return false;
    return true;
}

const char* WireNamesText(WireNames names) {
    switch (names) {
    case WireCp1252: return "cp1252";
    case WireUtf8: return "utf-8";
    case WireBytes: return "bytes";
    }
    return "cp1252";
}

bool Utf8ToCp1252(const char* in, char* out, size_t size, bool* lossy) {
    Out o{out, size, 0, true};
    const unsigned char* p = reinterpret_cast<const unsigned char*>(in);
    while (*p != 0) {
        size_t n;
        uint32_t code = DecodeUtf8(p, &n);
        int byte = n == 0 ? -1 : Cp1252Byte(code);
        if (byte < 0) {
            Mark(lossy);
            o.Put(kMissing);
        } else {
            o.Put(static_cast<char>(byte));
        }
        p += n == 0 ? 1 : n;
    }
    return o.Finish();
}

bool Cp1252ToUtf8(const char* in, char* out, size_t size, bool* lossy) {
    Out o{out, size, 0, true};
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(in); *p != 0; ++p) {
        uint32_t code = *p;
        if (code >= 0x80 && code <= 0x9F) code = kHigh[code - 0x80];
        if (code == 0) {
            Mark(lossy);
            o.Put(kMissing);
        } else {
            EncodeUtf8(code, &o);
        }
    }
    return o.Finish();
}

bool CleanUtf8(const char* in, char* out, size_t size, bool* lossy) {
    Out o{out, size, 0, true};
    const unsigned char* p = reinterpret_cast<const unsigned char*>(in);
    while (*p != 0) {
        size_t n;
        DecodeUtf8(p, &n);
        if (n == 0) {
            Mark(lossy);
            o.Put(kMissing);
            ++p;
        } else {
            o.Put(reinterpret_cast<const char*>(p), n);
            p += n;
        }
    }
    return o.Finish();
}

bool LocalToWire(WireNames names, const char* in, char* out, size_t size, bool* lossy) {
    switch (names) {
    case WireCp1252: return Utf8ToCp1252(in, out, size, lossy);
    case WireUtf8: return CleanUtf8(in, out, size, lossy);
    case WireBytes: break;
    }
    Out o{out, size, 0, true};
    o.Put(in, strlen(in));
    return o.Finish();
}

bool WireToLocal(WireNames names, const char* in, char* out, size_t size, bool* lossy) {
    switch (names) {
    case WireCp1252: return Cp1252ToUtf8(in, out, size, lossy);
    case WireUtf8: return CleanUtf8(in, out, size, lossy);
    case WireBytes: break;
    }
    Out o{out, size, 0, true};
    o.Put(in, strlen(in));
    return o.Finish();
}
