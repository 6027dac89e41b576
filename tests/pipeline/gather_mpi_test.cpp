// gather_align_lists across real processes: run under mpiexec (any size, 3 in the suite).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <boost/mpi/communicator.hpp>
#include <boost/mpi/environment.hpp>

#include "pipeline/row_transfer.h"

namespace {

using Row = Chromatogram_Peak_Group_Compound_Align;

// Rows that say where they came from: SAMPLE_ID = 100 * rank + k. The first row of every odd
// rank has an empty shape, so the point preamble falls inside a later row.
std::vector<Row> rows_of(int rank, int count) {
    std::vector<Row> rows;
    for (int k = 0; k < count; ++k) {
        Row r;
        r.SAMPLE_ID = static_cast<std::uint32_t>(100 * rank + k);
        r.SAMPLE_NAME = "rank" + std::to_string(rank);
        r.Adduct_Annotation = k % 2 ? "[M+Na]+" : "";
        r.Apex_MZ = 100.0 + rank + k / 8.0;
        if (!(rank % 2 == 1 && k == 0))
            for (int j = 0; j <= k; ++j)
                r.Peak_shape.push_back({static_cast<std::uint32_t>(j), 1.5 * j, 200.25 + rank, 10.0 * (k + j)});
        rows.push_back(std::move(r));
    }
    return rows;
}

void expect_rows_from(const std::vector<Row>& got, std::size_t at, int rank, int count) {
    const std::vector<Row> want = rows_of(rank, count);
    for (int k = 0; k < count; ++k) {
        SCOPED_TRACE("rank " + std::to_string(rank) + " row " + std::to_string(k));
        const Row &g = got[at + static_cast<std::size_t>(k)], &w = want[static_cast<std::size_t>(k)];
        EXPECT_EQ(g.SAMPLE_ID, w.SAMPLE_ID);
        EXPECT_EQ(g.SAMPLE_NAME, w.SAMPLE_NAME);
        EXPECT_EQ(g.Adduct_Annotation, w.Adduct_Annotation);
        EXPECT_EQ(g.Apex_MZ, w.Apex_MZ);
        ASSERT_EQ(g.Peak_shape.size(), w.Peak_shape.size());
        for (std::size_t j = 0; j < w.Peak_shape.size(); ++j) {
            EXPECT_EQ(g.Peak_shape[j].scan_num, w.Peak_shape[j].scan_num);
            EXPECT_EQ(g.Peak_shape[j].intensity, w.Peak_shape[j].intensity);
        }
    }
}

// Gathers with the given per-rank counts and checks rank 0's list (its own rows first, then each
// rank's in rank order) and that the other ranks keep theirs.
void gather_and_check(const std::vector<int>& count_of_rank) {
    boost::mpi::communicator world;
    const int rank = world.rank(), size = world.size();
    auto count = [&](int r) { return count_of_rank[static_cast<std::size_t>(r) % count_of_rank.size()]; };

    std::vector<Row> list = rows_of(rank, count(rank));
    gather_align_lists(world, rank, size, list);

    if (rank != 0) {
        ASSERT_EQ(list.size(), static_cast<std::size_t>(count(rank)));
        expect_rows_from(list, 0, rank, count(rank));
        return;
    }
    std::size_t total = 0;
    for (int r = 0; r < size; ++r) total += static_cast<std::size_t>(count(r));
    ASSERT_EQ(list.size(), total);
    std::size_t at = 0;
    for (int r = 0; r < size; ++r) {
        expect_rows_from(list, at, r, count(r));
        at += static_cast<std::size_t>(count(r));
    }
}

TEST(GatherAlignLists, RowsArriveInRankOrder) { gather_and_check({4, 3, 2}); }

TEST(GatherAlignLists, RanksWithoutRows) { gather_and_check({0, 0, 5}); }

TEST(GatherAlignLists, ManyRowsWithLongShapes) { gather_and_check({50, 400, 1}); }

}  // namespace

int main(int argc, char** argv) {
    boost::mpi::environment env(argc, argv, false);
    testing::InitGoogleTest(&argc, argv);
    // Only rank 0 prints gtest's report; every rank's result decides the exit status.
    if (boost::mpi::communicator().rank() != 0) {
        auto& listeners = testing::UnitTest::GetInstance()->listeners();
        delete listeners.Release(listeners.default_result_printer());
    }
    return RUN_ALL_TESTS();
}
