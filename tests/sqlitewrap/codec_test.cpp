// Blob text codec, CppSQLite3Binary, CppSQLite3Buffer and CppSQLite3Exception.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "sqlitewrap/cppsqlite3.h"
#include "tests/sqlitewrap/expect_error.h"

namespace {

using korvane::test::expect_sqlite_error;
using Bytes = std::vector<unsigned char>;

std::size_t size_rule(std::size_t n) { return (257 * n) / 254 + 3; }

// Encodes into a heap block of exactly the size the rule promises, so the sanitizer build sees
// any write past it.
Bytes encode(const Bytes& in, int* length = nullptr) {
    const std::size_t size = size_rule(in.size());
    std::unique_ptr<unsigned char[]> out(new unsigned char[size]);
    const int n = sqlite3_encode_binary(in.data(), static_cast<int>(in.size()), out.get());
    if (length) *length = n;
    EXPECT_EQ(out[n], 0) << "terminator missing";
    return Bytes(out.get(), out.get() + n);
}

Bytes decode(const Bytes& text) {
    std::string z(text.begin(), text.end());  // adds the terminator
    Bytes out(z.size() + 1);
    const int n = sqlite3_decode_binary(reinterpret_cast<const unsigned char*>(z.c_str()), out.data());
    if (n < 0) return {0xde, 0xad};  // never a valid result of the cases below
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// The offset by its definition: for each allowed candidate, count the input bytes whose stored
// value would be 0, 1 or 39; the lowest candidate with the fewest wins.
int reference_offset(const Bytes& in) {
    int best_offset = -1;
    std::size_t best = SIZE_MAX;
    for (int e = 1; e < 256; ++e) {
        if (e == 39) continue;
        std::size_t escapes = 0;
        for (unsigned char b : in) {
            const unsigned x = (b - e) & 0xffu;
            escapes += (x == 0 || x == 1 || x == 39);
        }
        if (escapes < best) {
            best = escapes;
            best_offset = e;
        }
    }
    return best_offset;
}

// What every encoding must satisfy: decodable, no byte 0 or 39, byte 1 only as an escape lead.
void check_text_shape(const Bytes& text) {
    ASSERT_FALSE(text.empty());
    for (std::size_t i = 0; i < text.size(); ++i) {
        ASSERT_NE(text[i], 0) << "at " << i;
        ASSERT_NE(text[i], 39) << "at " << i;
        if (i > 0 && text[i] == 1) {
            ASSERT_LT(i + 1, text.size());
            ASSERT_TRUE(text[i + 1] >= 1 && text[i + 1] <= 3) << "escape at " << i;
            ++i;
        }
    }
}

TEST(Codec, EncodesTheWorkedExamples) {
    struct Case {
        const char* name;
        Bytes in;
        Bytes text;
    };
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
    Bytes all_text{1};  // offset 1; bytes 1, 2 and 40 need escapes, every other byte is one lower
    for (int b = 0; b < 256; ++b) {
        if (b == 1) all_text.insert(all_text.end(), {1, 1});
        else if (b == 2) all_text.insert(all_text.end(), {1, 2});
        else if (b == 40) all_text.insert(all_text.end(), {1, 3});
        else all_text.push_back(static_cast<unsigned char>(b - 1));
    }
    const std::string shape = "1234.5,67.25,-3.5e-05,12";
    Bytes shape_text{1};
    for (char c : shape) shape_text.push_back(static_cast<unsigned char>(c - 1));

    const std::vector<Case> cases = {
        {"empty", {}, {'x'}},
        {"byte 0 takes offset 1", {0}, {1, 255}},
        {"byte 1 skips candidate 1", {1}, {2, 255}},
        {"all 256 values", all, all_text},
        {"shape text", Bytes(shape.begin(), shape.end()), shape_text},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int length = -1;
        const Bytes text = encode(c.in, &length);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(length, static_cast<int>(c.text.size()));
        EXPECT_EQ(decode(text), c.in);
    }
    EXPECT_EQ(all_text.size(), 260u);
}

TEST(Codec, EverySingleByteRoundTrips) {
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        const Bytes in{static_cast<unsigned char>(b)};
        const Bytes text = encode(in);
        EXPECT_EQ(text.size(), 2u);  // one candidate always stores a single byte without escape
        EXPECT_EQ(text[0], reference_offset(in));
        check_text_shape(text);
        EXPECT_EQ(decode(text), in);
    }
}

TEST(Codec, DecodesEmptyNullAndMalformedText) {
    struct Case {
        const char* name;
        const char* text;
        int expected;
    };
    const std::vector<Case> cases = {
        {"x", "x", 0},
        {"empty", "", 0},
        {"null", nullptr, 0},
        {"offset only", "\x05", 0},
        {"lead then 4", "\x05\x01\x04", -1},
        {"lead then terminator", "\x05\x41\x01", -1},
        {"lead then 1, 2, 3", "\x05\x01\x01\x01\x02\x01\x03", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char out[16] = {};
        EXPECT_EQ(sqlite3_decode_binary(reinterpret_cast<const unsigned char*>(c.text), out), c.expected);
    }
    unsigned char out[4] = {};
    ASSERT_EQ(sqlite3_decode_binary(reinterpret_cast<const unsigned char*>("\x05\x01\x01\x01\x02\x01\x03"), out), 3);
    EXPECT_EQ(out[0], 5);
    EXPECT_EQ(out[1], 6);
    EXPECT_EQ(out[2], 44);
}

// Random inputs drawn mostly from the values that force escapes (0, 1, 2, 39, 40 and their
// neighbours), so every offset choice and every escape kind is exercised.
TEST(Codec, RandomRoundTripsStayWithinTheSizeRule) {
    std::mt19937_64 rng(20261209);  // fixed seed: a failure reproduces
    const unsigned char hot[] = {0, 1, 2, 3, 38, 39, 40, 41, 254, 255};
    for (int round = 0; round < 3000; ++round) {
        const std::size_t n = round < 40 ? static_cast<std::size_t>(round) : rng() % 3000;
        Bytes in(n);
        const int mode = round % 3;
        for (auto& b : in) {
            if (mode == 0) b = static_cast<unsigned char>(rng());
            else if (mode == 1) b = hot[rng() % sizeof hot];
            else b = (rng() % 4 == 0) ? hot[rng() % sizeof hot] : static_cast<unsigned char>(rng());
        }
        SCOPED_TRACE("round " + std::to_string(round) + " n " + std::to_string(n));
        const Bytes text = encode(in);
        ASSERT_LE(text.size() + 1, size_rule(n));
        check_text_shape(text);
        if (n > 0) {
            ASSERT_EQ(text[0], reference_offset(in));
        }
        ASSERT_EQ(decode(text), in);

        // Decoding in place gives the same bytes as decoding into a separate buffer.
        std::string z(text.begin(), text.end());
        auto* p = reinterpret_cast<unsigned char*>(z.data());
        const int m = sqlite3_decode_binary(p, p);
        ASSERT_EQ(m, static_cast<int>(n));
        ASSERT_EQ(Bytes(p, p + m), in);
    }
}

// ---- CppSQLite3Binary

std::string as_text(const unsigned char* p) { return reinterpret_cast<const char*>(p); }

TEST(Binary, RoundTripsThroughTheEncodedText) {
    std::mt19937_64 rng(7);
    for (std::size_t n : {0u, 1u, 2u, 39u, 40u, 255u, 4097u}) {
        SCOPED_TRACE(n);
        Bytes in(n);
        for (auto& b : in) b = static_cast<unsigned char>(rng());
        CppSQLite3Binary raw;
        raw.setBinary(in.data(), static_cast<int>(n));
        const std::string text = as_text(raw.getEncoded());
        EXPECT_EQ(as_text(raw.getEncoded()), text);  // a second call does no work
        EXPECT_EQ(text, [&] { const Bytes t = encode(in); return std::string(t.begin(), t.end()); }());

        CppSQLite3Binary back;
        back.setEncoded(reinterpret_cast<const unsigned char*>(text.c_str()));
        ASSERT_EQ(back.getBinaryLength(), static_cast<int>(n));
        const unsigned char* bytes = back.getBinary();
        EXPECT_EQ(Bytes(bytes, bytes + n), in);
    }
}

TEST(Binary, EmptyAndNullInputsGiveNoBytes) {
    CppSQLite3Binary fresh;
    EXPECT_EQ(fresh.getBinaryLength(), 0);
    EXPECT_EQ(as_text(fresh.getEncoded()), "x");  // encoding from an object with no buffer at all

    for (const unsigned char* text : {static_cast<const unsigned char*>(nullptr),
                                      reinterpret_cast<const unsigned char*>(""),
                                      reinterpret_cast<const unsigned char*>("x")}) {
        SCOPED_TRACE(text ? as_text(text) : "null");
        CppSQLite3Binary b;
        b.setEncoded(text);
        EXPECT_EQ(b.getBinaryLength(), 0);
        EXPECT_EQ(as_text(b.getEncoded()), "x");
    }
}

// A text with no escapes decodes in place into nearly its own length; bytes 3..255 and 0 then
// need escapes under every offset, so re-encoding needs more room than the text had.
TEST(Binary, ReencodingAfterDecodeGetsABufferOfItsOwnSize) {
    std::string text(1, '\x01');
    for (int c = 2; c < 256; ++c) text.push_back(static_cast<char>(c));
    CppSQLite3Binary b;
    b.setEncoded(reinterpret_cast<const unsigned char*>(text.c_str()));
    ASSERT_EQ(b.getBinaryLength(), 254);
    const Bytes raw(b.getBinary(), b.getBinary() + 254);
    EXPECT_EQ(raw.front(), 3);
    EXPECT_EQ(raw.back(), 0);

    const std::string again = as_text(b.getEncoded());
    EXPECT_GT(again.size(), text.size());
    EXPECT_EQ(decode(Bytes(again.begin(), again.end())), raw);
}

TEST(Binary, MalformedTextThrowsAndStaysIntact) {
    const std::string text = "\x05\x41\x42\x01\x04";
    CppSQLite3Binary b;
    b.setEncoded(reinterpret_cast<const unsigned char*>(text.c_str()));
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        expect_sqlite_error([&] { b.getBinary(); }, 1000, "CPPSQLITE_ERROR[1000]: Cannot decode binary");
    }
    EXPECT_EQ(as_text(b.getEncoded()), text);
}

TEST(Binary, SizesBeyondTheRuleThrow) {
    // 257 * n overflows 32 bits long before n does. 2122415742 raw bytes need exactly INT_MAX
    // bytes of buffer; one more needs INT_MAX + 1.
    for (int n : {-1, INT_MIN, 2122415743, INT_MAX}) {
        SCOPED_TRACE(n);
        CppSQLite3Binary b;
        b.setBinary(reinterpret_cast<const unsigned char*>("abc"), 3);
        expect_sqlite_error([&] { b.allocBuffer(n); }, 1000, "CPPSQLITE_ERROR[1000]: Cannot allocate memory");
        EXPECT_EQ(b.getBinaryLength(), 0);  // left empty, not holding a length without a buffer
        EXPECT_EQ(as_text(b.getEncoded()), "x");
    }
    CppSQLite3Binary b;
    expect_sqlite_error([&] { b.setBinary(nullptr, INT_MAX); }, 1000,
                        "CPPSQLITE_ERROR[1000]: Cannot allocate memory");
}

// ---- CppSQLite3Buffer

TEST(Buffer, FormatsWithSqliteConversionsAndReplacesTheOldText) {
    CppSQLite3Buffer buf;
    EXPECT_EQ(static_cast<const char*>(buf), nullptr);
    EXPECT_STREQ(buf.format("insert into t values('%q', %Q, %d)", "it's", nullptr, 7),
                 "insert into t values('it''s', NULL, 7)");
    buf.format("%s", "second");
    EXPECT_STREQ(buf, "second");
    buf.clear();
    EXPECT_EQ(static_cast<const char*>(buf), nullptr);
}

TEST(Buffer, FailedFormatHoldsNull) {
    CppSQLite3Buffer buf;
    buf.format("%s", "old");
    {
        korvane::test::SqliteOutOfMemory oom;
        EXPECT_EQ(buf.format("%s", "new"), nullptr);
    }
    EXPECT_EQ(static_cast<const char*>(buf), nullptr);
}

// ---- CppSQLite3Exception

TEST(Exception, NamesCodes) {
    const std::vector<std::pair<int, const char*>> cases = {
        {0, "SQLITE_OK"},       {25, "SQLITE_RANGE"},   {101, "SQLITE_DONE"},   {1000, "CPPSQLITE_ERROR"},
        {26, "UNKNOWN_ERROR"},  {-1, "UNKNOWN_ERROR"},  {1001, "UNKNOWN_ERROR"},
        {SQLITE_BUSY_RECOVERY, "UNKNOWN_ERROR"},  // extended codes have no name of their own
    };
    for (const auto& [code, name] : cases) {
        SCOPED_TRACE(code);
        EXPECT_STREQ(CppSQLite3Exception::errorCodeAsString(code), name);
    }
}

TEST(Exception, BuildsTheMessageAndCopiesIt) {
    EXPECT_STREQ(CppSQLite3Exception(1000, nullptr).errorMessage(), "CPPSQLITE_ERROR[1000]: ");
    EXPECT_STREQ(CppSQLite3Exception(-5, "odd").errorMessage(), "UNKNOWN_ERROR[-5]: odd");

    // A text from SQLite's allocator is taken over and released by the exception.
    auto original = std::make_unique<CppSQLite3Exception>(5, sqlite3_mprintf("database %s", "is locked"), true);
    const CppSQLite3Exception copy(*original);
    CppSQLite3Exception assigned(1, "other");
    assigned = *original;
    original.reset();
    EXPECT_EQ(copy.errorCode(), 5);
    EXPECT_STREQ(copy.errorMessage(), "SQLITE_BUSY[5]: database is locked");
    EXPECT_STREQ(assigned.errorMessage(), "SQLITE_BUSY[5]: database is locked");
}

TEST(Exception, MessageIsNeverNull) {
    korvane::test::SqliteOutOfMemory oom;
    const CppSQLite3Exception e(1000, "Database not open");
    const CppSQLite3Exception copy(e);
    ASSERT_NE(e.errorMessage(), nullptr);
    ASSERT_NE(copy.errorMessage(), nullptr);
    EXPECT_STREQ(e.errorMessage(), "CPPSQLITE_ERROR");
}

}  // namespace
