// The receiving side of the block protocol, written from the wire format, to
// check what the library sends.
#pragma once

#include <cstdint>
#include <string>

namespace decoder {

// CRC-32 bit by bit, independent of the library's table.
inline uint32_t Crc32(const std::string &bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline std::string Hex8(uint32_t crc)
{
    static const char digits[] = "0123456789abcdef";
    std::string s(8, '0');
    for (int i = 7; i >= 0; --i, crc >>= 4) s[static_cast<size_t>(i)] = digits[crc & 0xF];
    return s;
}

// The payload of one block (with its LF) under key (the CRC text of the
// login); false when the block is malformed or its CRC text does not match.
inline bool Decode(const std::string &block, std::string key, std::string *payload, std::string *why)
{
    if (block.empty() || block.back() != '\n') return *why = "no LF at the end", false;
    std::string body = block.substr(0, block.size() - 1);
    for (char &k : key) k = static_cast<char>(k | 0x80);
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(body[i] ^ key[i % key.size()]);
    if (body.empty() || body.back() != '\0') return *why = "no 0x00 before the LF", false;
    body.pop_back();
    std::string plain;
    size_t i = 0;
    for (; i + 8 <= body.size(); i += 8) {
        unsigned char high = static_cast<unsigned char>(body[i + 7]);
        for (int k = 0; k < 7; ++k) {
            unsigned char b = static_cast<unsigned char>(body[i + k]);
            if (b & 0x80) return *why = "packed byte with bit 7", false;
            if (high & (0x80 >> (k + 1))) b |= 0x80;
            plain += static_cast<char>(b);
        }
    }
    plain += body.substr(i);
    if (plain.size() < 8) return *why = "shorter than the CRC text", false;
    std::string data = plain.substr(0, plain.size() - 8);
    std::string crc = plain.substr(plain.size() - 8);
    if (crc != Hex8(Crc32(data))) return *why = "CRC text " + crc + " != " + Hex8(Crc32(data)), false;
    *payload = data;
    return true;
}

}  // namespace decoder
