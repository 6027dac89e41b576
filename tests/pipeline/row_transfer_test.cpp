// The packed layout of aligned rows, byte for byte, and what the receiver does with damaged
// buffers. Runs as one MPI process (MPI_Pack needs an initialised library).
#include "pipeline/row_transfer.h"

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>
#include <boost/mpi/environment.hpp>

#include "pipeline/row_serialization.h"

namespace {

using Row = Chromatogram_Peak_Group_Compound_Align;

// Native little-endian bytes, written independently of MPI_Pack.
class Bytes {
public:
    Bytes& i32(std::int32_t v) { return raw(&v, 4); }
    Bytes& u32(std::uint32_t v) { return raw(&v, 4); }
    Bytes& f64(double v) { return raw(&v, 8); }
    Bytes& u8(unsigned char v) { return raw(&v, 1); }
    Bytes& preamble() { return u8(0).u8(0); }
    Bytes& text(const std::string& s) {
        u32(static_cast<std::uint32_t>(s.size()));
        return raw(s.data(), s.size());
    }
    Bytes& point(const Data_Point& p) { return u32(p.scan_num).f64(p.retention_time).f64(p.mz).f64(p.intensity); }
    // Members 2 to 21 of a row.
    Bytes& row_fields(const Row& r) {
        u32(r.EIC_ID).u32(r.Peak_ID).f64(r.Apex_MZ).u32(r.Apex_Pos).f64(r.Apex_Retention_Time);
        f64(r.Apex_Intensity).f64(r.Peak_Area).f64(r.Peak_SNR).u32(r.Left_Boundary).u32(r.Right_Boundary);
        u32(r.Group_ID).text(r.Adduct_Annotation).u32(r.Compound_ID).f64(r.Compound_MolecularMass);
        f64(r.Compound_Retention_Time).f64(r.Compound_Intensity).u32(r.SAMPLE_ID).text(r.SAMPLE_NAME);
        return u32(r.Align_ID).f64(r.Align_RT);
    }
    const std::vector<char>& get() const { return bytes_; }

private:
    Bytes& raw(const void* p, std::size_t n) {
        const char* c = static_cast<const char*>(p);
        bytes_.insert(bytes_.end(), c, c + n);
        return *this;
    }
    std::vector<char> bytes_;
};

Data_Point point(std::uint32_t scan, double base) { return {scan, base + 0.25, base + 100.125, base * 1000.5}; }

Row row(std::uint32_t id, std::vector<Data_Point> shape, std::string adduct, std::string name) {
    Row r;
    r.Peak_shape = std::move(shape);
    r.EIC_ID = 10 + id;
    r.Peak_ID = 20 + id;
    r.Apex_MZ = 123.456 + id;
    r.Apex_Pos = 30 + id;
    r.Apex_Retention_Time = 61.5 + id;
    r.Apex_Intensity = 1e6 + id;
    r.Peak_Area = 2.5e7 + id;
    r.Peak_SNR = 12.75 + id;
    r.Left_Boundary = 25 + id;
    r.Right_Boundary = 35 + id;
    r.Group_ID = 4 + id;
    r.Adduct_Annotation = std::move(adduct);
    r.Compound_ID = 7 + id;
    r.Compound_MolecularMass = 122.448 + id;
    r.Compound_Retention_Time = 61.25 + id;
    r.Compound_Intensity = 3e6 + id;
    r.SAMPLE_ID = id;
    r.SAMPLE_NAME = std::move(name);
    return r;
}

void expect_same_rows(const std::vector<Row>& a, const std::vector<Row>& b) {
    ASSERT_EQ(a.size(), b.size());
    auto bits = [](double d) { return std::bit_cast<std::uint64_t>(d); };
    for (std::size_t k = 0; k < a.size(); ++k) {
        SCOPED_TRACE("row " + std::to_string(k));
        const Row &x = a[k], &y = b[k];
        ASSERT_EQ(x.Peak_shape.size(), y.Peak_shape.size());
        for (std::size_t j = 0; j < x.Peak_shape.size(); ++j) {
            EXPECT_EQ(x.Peak_shape[j].scan_num, y.Peak_shape[j].scan_num);
            EXPECT_EQ(bits(x.Peak_shape[j].retention_time), bits(y.Peak_shape[j].retention_time));
            EXPECT_EQ(bits(x.Peak_shape[j].mz), bits(y.Peak_shape[j].mz));
            EXPECT_EQ(bits(x.Peak_shape[j].intensity), bits(y.Peak_shape[j].intensity));
        }
        EXPECT_EQ(x.EIC_ID, y.EIC_ID);
        EXPECT_EQ(x.Peak_ID, y.Peak_ID);
        EXPECT_EQ(bits(x.Apex_MZ), bits(y.Apex_MZ));
        EXPECT_EQ(x.Apex_Pos, y.Apex_Pos);
        EXPECT_EQ(bits(x.Apex_Retention_Time), bits(y.Apex_Retention_Time));
        EXPECT_EQ(bits(x.Apex_Intensity), bits(y.Apex_Intensity));
        EXPECT_EQ(bits(x.Peak_Area), bits(y.Peak_Area));
        EXPECT_EQ(bits(x.Peak_SNR), bits(y.Peak_SNR));
        EXPECT_EQ(x.Left_Boundary, y.Left_Boundary);
        EXPECT_EQ(x.Right_Boundary, y.Right_Boundary);
        EXPECT_EQ(x.Group_ID, y.Group_ID);
        EXPECT_EQ(x.Adduct_Annotation, y.Adduct_Annotation);
        EXPECT_EQ(x.Compound_ID, y.Compound_ID);
        EXPECT_EQ(bits(x.Compound_MolecularMass), bits(y.Compound_MolecularMass));
        EXPECT_EQ(bits(x.Compound_Retention_Time), bits(y.Compound_Retention_Time));
        EXPECT_EQ(bits(x.Compound_Intensity), bits(y.Compound_Intensity));
        EXPECT_EQ(x.SAMPLE_ID, y.SAMPLE_ID);
        EXPECT_EQ(x.SAMPLE_NAME, y.SAMPLE_NAME);
        EXPECT_EQ(x.Align_ID, y.Align_ID);
        EXPECT_EQ(bits(x.Align_RT), bits(y.Align_RT));
    }
}

std::vector<Row> round_trip(const std::vector<char>& buffer) {
    std::vector<Row> rows;
    korvane::unpack_align_rows(buffer, MPI_COMM_WORLD, rows);
    return rows;
}

TEST(PackAlignRows, GoldenBytes) {
    struct Case {
        const char* name;
        std::vector<Row> rows;
        std::vector<char> expected;
        std::size_t size;
    };
    const Data_Point p1 = point(7, 1.0), p2 = point(8, 2.0), p3 = point(9, 3.0);
    const Row one = row(0, {p1}, "[M+H]+", "s1");
    const Row empty_shape = row(1, {}, "", "");
    const Row two_points = row(2, {p2, p3}, "[M+Na]+", "sample-two");
    const Row third = row(3, {p1}, "[M+H]+", "s1");

    Case cases[] = {
        {"empty list", {}, Bytes().i32(1).preamble().u32(0).u8(0).get(), 11},
        {"one row with one point", {one},
         Bytes().i32(1).preamble().u32(1).u8(0)
             .preamble()                                   // first row
             .preamble().u32(1).u8(0).preamble().point(p1) // first point vector, first point
             .row_fields(one).get(),
         174},
        {"empty shape first, then rows with points", {empty_shape, two_points, third},
         Bytes().i32(1).preamble().u32(3).u8(0)
             .preamble().preamble().u32(0).u8(0).row_fields(empty_shape)
             .u32(2).u8(0).preamble().point(p2).point(p3).row_fields(two_points)
             .u32(1).u8(0).point(p1).row_fields(third).get(),
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<char> packed = korvane::pack_align_rows(c.rows, MPI_COMM_WORLD);
        if (c.size != 0) {
            EXPECT_EQ(packed.size(), c.size);
        }
        EXPECT_EQ(packed, c.expected);
        expect_same_rows(round_trip(packed), c.rows);
    }
}

TEST(UnpackAlignRows, AppendsAfterRowsAlreadyThere) {
    const std::vector<Row> sent = {row(5, {point(1, 1.0)}, "a", "b")};
    std::vector<Row> rows = {row(9, {}, "x", "y")};
    korvane::unpack_align_rows(korvane::pack_align_rows(sent, MPI_COMM_WORLD), MPI_COMM_WORLD, rows);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].SAMPLE_ID, 9u);
    EXPECT_EQ(rows[1].SAMPLE_ID, 5u);
}

TEST(UnpackAlignRows, DamagedBuffersRaiseErrors) {
    const std::vector<Row> rows = {row(0, {point(1, 1.0), point(2, 2.0)}, "[M+H]+", "s1"),
                                   row(1, {}, "", "name")};
    const std::vector<char> good = korvane::pack_align_rows(rows, MPI_COMM_WORLD);

    // Every cut-off prefix, including the empty buffer.
    for (std::size_t n = 0; n < good.size(); ++n) {
        SCOPED_TRACE("first " + std::to_string(n) + " bytes");
        const std::vector<char> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        std::vector<Row> out;
        EXPECT_THROW(korvane::unpack_align_rows(cut, MPI_COMM_WORLD, out), korvane::TransferError);
    }

    // Offsets in this buffer: 11 header bytes, row preamble, point vector preamble, then the
    // point count; after it the item version, the point preamble, two points and members 2-12.
    constexpr std::size_t kPointCountAt = 11 + 2 + 2;
    constexpr std::size_t kAdductLengthAt = kPointCountAt + 4 + 1 + 2 + 2 * 28 + 64;
    auto patched = [&](std::size_t offset, std::uint32_t value) {
        std::vector<char> b = good;
        std::memcpy(b.data() + offset, &value, 4);
        return b;
    };
    struct Case {
        const char* name;
        std::vector<char> buffer;
    };
    const Case damaged[] = {
        {"row count beyond the bytes left", patched(6, 0xFFFFFFFFu)},
        {"row count one too many", patched(6, 3)},
        {"point count beyond the bytes left", patched(kPointCountAt, 100000000u)},
        {"string length beyond the bytes left", patched(kAdductLengthAt, 0x7FFFFFFFu)},
        {"value count 0", patched(0, 0)},
        {"byte left over", [&] { auto b = good; b.push_back(0); return b; }()},
        {"class version 1", [&] { auto b = good; b[5] = 1; return b; }()},
    };
    for (const Case& c : damaged) {
        SCOPED_TRACE(c.name);
        std::vector<Row> out;
        EXPECT_THROW(korvane::unpack_align_rows(c.buffer, MPI_COMM_WORLD, out), korvane::TransferError);
    }

    std::vector<Row> out;
    try {
        korvane::unpack_align_rows(patched(0, 2), MPI_COMM_WORLD, out);
        ADD_FAILURE() << "a value count of 2 was accepted";
    } catch (const std::range_error& e) {
        EXPECT_STREQ(e.what(), "communicator::recv: message receive overflow");
    }
}

TEST(CheckedMessageSize, RefusesBuffersAboveTheMpiIntRange) {
    EXPECT_EQ(korvane::checked_message_size(0), 0);
    EXPECT_EQ(korvane::checked_message_size(static_cast<std::size_t>(INT_MAX)), INT_MAX);
    EXPECT_THROW(korvane::checked_message_size(static_cast<std::size_t>(INT_MAX) + 1), std::length_error);
    EXPECT_THROW(korvane::checked_message_size(std::size_t{1} << 33), std::length_error);
}

TEST(RowSerialization, DrivesBoostArchivesToo) {
    const std::vector<Row> rows = {row(0, {point(1, 1.0)}, "[M+H]+", "s1"), row(1, {}, "", "")};
    std::stringstream stream;
    {
        boost::archive::text_oarchive out(stream);
        out << rows;
    }
    std::vector<Row> back;
    {
        boost::archive::text_iarchive in(stream);
        in >> back;
    }
    expect_same_rows(back, rows);
}

}  // namespace

int main(int argc, char** argv) {
    boost::mpi::environment env(argc, argv, false);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
