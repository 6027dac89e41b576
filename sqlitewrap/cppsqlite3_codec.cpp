// The blob text codec and CppSQLite3Binary.
//
// An encoding is one offset byte e, then every input byte b stored as x = (b - e) mod 256, where
// the three values of x that must not appear in the text (0 ends it, 39 is the apostrophe, 1 is
// the escape lead) are written as the pairs 1 1, 1 2 and 1 3. The offset is chosen so that as few
// bytes as possible need a pair.
#include "sqlitewrap/cppsqlite3.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned char kEscape = 1;
constexpr unsigned char kApostrophe = '\'';

[[noreturn]] void throw_no_memory() { throw CppSQLite3Exception(CPPSQLITE_ERROR, "Cannot allocate memory"); }

// Bytes needed for the encoding of nLen bytes: 1 offset byte, nLen bytes, at most 3 * nLen / 254
// escapes (the best of the 254 candidate offsets), 1 terminator. Computed in 64 bits so that no
// length can wrap into a small allocation.
int encoded_buffer_size(int nLen) {
    if (nLen < 0) throw_no_memory();
    const long long size = (257LL * nLen) / 254 + 3;
    if (size > INT_MAX) throw_no_memory();
    return static_cast<int>(size);
}

// One pass of the decoder; with Write false it only measures, so a malformed text can be
// rejected before an in-place decode has overwritten any of it.
template <bool Write>
int decode(const unsigned char* in, unsigned char* out) {
    if (!in || in[0] == 0) return 0;
    const unsigned char e = in[0];
    int written = 0;
    for (std::size_t i = 1; in[i] != 0; ++i) {
        unsigned char c = in[i];
        if (c == kEscape) {
            switch (in[++i]) {
                case 1: c = 0; break;
                case 2: c = 1; break;
                case 3: c = kApostrophe; break;
                default: return -1;  // includes a lead right before the terminator
            }
        }
        if constexpr (Write) out[written] = static_cast<unsigned char>(c + e);
        ++written;
    }
    return written;
}

}  // namespace

int sqlite3_encode_binary(const unsigned char* in, int n, unsigned char* out) {
    if (n <= 0) {
        out[0] = 'x';
        out[1] = 0;
        return 1;
    }
    int count[256] = {};
    for (int i = 0; i < n; ++i) ++count[in[i]];

    // Lowest candidate with the fewest escapes; 0 and 39 would put a terminator or an apostrophe
    // into the offset byte itself.
    int best = n;
    int e = 1;
    for (int i = 1; i < 256; ++i) {
        if (i == kApostrophe) continue;
        const int sum = count[i] + count[(i + 1) & 0xff] + count[(i + kApostrophe) & 0xff];
        if (sum < best) {
            best = sum;
            e = i;
            if (sum == 0) break;
        }
    }

    out[0] = static_cast<unsigned char>(e);
    int j = 1;
    for (int i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(in[i] - e);
        if (x == 0 || x == 1) {
            out[j++] = kEscape;
            out[j++] = static_cast<unsigned char>(x + 1);
        } else if (x == kApostrophe) {
            out[j++] = kEscape;
            out[j++] = 3;
        } else {
            out[j++] = x;
        }
    }
    out[j] = 0;
    return j;
}

int sqlite3_decode_binary(const unsigned char* in, unsigned char* out) { return decode<true>(in, out); }

CppSQLite3Binary::~CppSQLite3Binary() { clear(); }

void CppSQLite3Binary::clear() {
    if (data) {
        binaryLength = 0;
        bufferLength = 0;
        encodedLength = 0;
        std::free(data);
        data = nullptr;
        encoded = false;
    }
}

unsigned char* CppSQLite3Binary::allocBuffer(int nLen) {
    clear();
    const int size = encoded_buffer_size(nLen);
    data = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size)));
    if (!data) throw_no_memory();
    binaryLength = nLen;
    bufferLength = size;
    encoded = false;
    return data;
}

void CppSQLite3Binary::setBinary(const unsigned char* pBuf, int nLen) {
    allocBuffer(nLen);
    if (nLen > 0) std::memcpy(data, pBuf, static_cast<std::size_t>(nLen));
}

void CppSQLite3Binary::setEncoded(const unsigned char* pBuf) {
    clear();
    const std::size_t n = pBuf ? std::strlen(reinterpret_cast<const char*>(pBuf)) : 0;
    if (n >= static_cast<std::size_t>(INT_MAX)) throw_no_memory();
    data = static_cast<unsigned char*>(std::malloc(n + 1));
    if (!data) throw_no_memory();
    if (n > 0) std::memcpy(data, pBuf, n);
    data[n] = 0;
    encodedLength = static_cast<int>(n);
    bufferLength = static_cast<int>(n + 1);
    encoded = true;
}

const unsigned char* CppSQLite3Binary::getEncoded() {
    if (!encoded) {
        // The raw bytes may sit in a buffer too small for their encoding (an empty object, or
        // bytes decoded in place from a text that had fewer escapes than the encoder will use),
        // so the encoding always goes into a fresh buffer sized by the rule.
        const int size = encoded_buffer_size(binaryLength);
        auto* out = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size)));
        if (!out) throw_no_memory();
        encodedLength = sqlite3_encode_binary(data, binaryLength, out);
        std::free(data);
        data = out;
        bufferLength = size;
        encoded = true;
    }
    return data;
}

const unsigned char* CppSQLite3Binary::getBinary() {
    if (encoded) {
        // Measure first: a malformed text must stay intact, not half overwritten by its own
        // decoding, so a repeated call fails the same way instead of decoding garbage.
        binaryLength = decode<false>(data, nullptr);
        if (binaryLength == -1) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Cannot decode binary");
        decode<true>(data, data);
        encoded = false;
    }
    return data;
}

int CppSQLite3Binary::getBinaryLength() {
    getBinary();
    return binaryLength;
}
