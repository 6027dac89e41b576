#include "engine/annotation/clustering.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "reference/clustering_oracle.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<double> distances_of(const std::vector<double>& values) {
    std::vector<double> d;
    p_dist(values, d);
    return d;
}

std::vector<cluster_node> tree_of(const std::vector<double>& dist, cluster_method method) {
    std::vector<cluster_node> t;
    linkage(dist, method, t);
    return t;
}

std::vector<std::uint32_t> labels_of(const std::vector<cluster_node>& tree, double cut) {
    std::vector<std::uint32_t> l;
    cluster(tree, cut, l);
    return l;
}

void expect_nodes(const std::vector<cluster_node>& got, const std::vector<cluster_node>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t r = 0; r < got.size(); ++r) {
        EXPECT_EQ(got[r].left_id, want[r].left_id) << "node " << r;
        EXPECT_EQ(got[r].right_id, want[r].right_id) << "node " << r;
        EXPECT_DOUBLE_EQ(got[r].distance, want[r].distance) << "node " << r;
    }
}

TEST(PDist, PairOrderAndSignOfZero) {
    EXPECT_EQ(distances_of({0, 10, 1}), (std::vector<double>{10, 1, 9}));
    EXPECT_TRUE(distances_of({}).empty());
    EXPECT_TRUE(distances_of({4}).empty());
    // Equal values give the negation of +0: a negative zero that still compares equal to 0.
    const auto d = distances_of({2.5, 2.5});
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0], 0.0);
    EXPECT_TRUE(std::signbit(d[0]));
    // The output is appended to.
    std::vector<double> out{7};
    p_dist({1, 4}, out);
    EXPECT_EQ(out, (std::vector<double>{7, 3}));
}

// The five update rules on the values 0, 10, 1: items 0 and 2 merge at 1, then item 1 joins.
TEST(Linkage, FiveMethodsOnThreeValues) {
    const struct {
        const char* name;
        cluster_method method;
        double second_height;
    } rows[] = {
        {"complete", complete_linkage, 10}, {"single", single_linkage, 9},   {"average", average_linkage, 9.5},
        {"weighted", weighted_linkage, 9.5}, {"median", median_linkage, 9.5},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        expect_nodes(tree_of(distances_of({0, 10, 1}), row.method), {{0, 2, 1}, {1, 3, row.second_height}});
    }
}

TEST(Cluster, CutsTheCompleteTree) {
    const auto tree = tree_of(distances_of({0, 10, 1}), complete_linkage);
    EXPECT_EQ(labels_of(tree, 2), (std::vector<std::uint32_t>{2, 1, 2}));
    // A height equal to the threshold stays joined.
    EXPECT_EQ(labels_of(tree, 10), (std::vector<std::uint32_t>{1, 1, 1}));
    EXPECT_EQ(labels_of(tree, 9.999), (std::vector<std::uint32_t>{2, 1, 2}));
}

// Distances 1, 2, 1: positions 0 and 2 tie and the first in pair order wins.
TEST(Cluster, TieGoesToFirstPairAndLabelsFollowRawOrder) {
    const auto tree = tree_of(distances_of({0, 1, 2}), complete_linkage);
    expect_nodes(tree, {{0, 1, 1}, {2, 3, 2}});
    EXPECT_EQ(labels_of(tree, 1), (std::vector<std::uint32_t>{2, 2, 1}));
    // Labels are ranks of the raw labels, not order of first appearance.
    EXPECT_EQ(labels_of(tree, 0.5), (std::vector<std::uint32_t>{1, 3, 2}));
}

TEST(Cluster, SmallAndDegenerateInputs) {
    const struct {
        const char* name;
        std::vector<double> values;
        cluster_method method;
        double height;  // of every node
        double cut;
        std::vector<std::uint32_t> labels;
    } rows[] = {
        {"one value", {5}, average_linkage, 0, 1, {1}},
        {"no values", {}, complete_linkage, 0, 1, {1}},
        {"two values below cut", {0, 3}, average_linkage, 3, 2.9, {1, 2}},
        {"two values at cut", {0, 3}, average_linkage, 3, 3, {1, 1}},
        {"equal values, cut at 0", {4, 4, 4, 4}, average_linkage, 0, 0, {1, 1, 1, 1}},
        {"equal values, median", {4, 4, 4}, median_linkage, 0, 0, {1, 1, 1}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto tree = tree_of(distances_of(row.values), row.method);
        EXPECT_EQ(tree.size(), row.values.empty() ? 0 : row.values.size() - 1);
        for (const auto& node : tree) EXPECT_EQ(node.distance, row.height);
        EXPECT_EQ(labels_of(tree, row.cut), row.labels);
    }
}

TEST(Linkage, WrongLengthIsReportedForEveryMethod) {
    for (const cluster_method method :
         {single_linkage, complete_linkage, average_linkage, weighted_linkage, median_linkage}) {
        SCOPED_TRACE(static_cast<int>(method));
        for (const std::size_t n : {2u, 4u, 7u}) {
            std::vector<cluster_node> tree;
            testing::internal::CaptureStdout();
            linkage(std::vector<double>(n, 1.0), method, tree);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error in linkage and W.size!=pdist_vec.size!\n");
            EXPECT_TRUE(tree.empty());
        }
    }
}

// A NaN first in the list would otherwise hold the minimum for ever and merge a pair that has no
// distance; it now loses to every number.
TEST(Linkage, NotANumberNeverWins) {
    for (const cluster_method method :
         {single_linkage, complete_linkage, average_linkage, weighted_linkage, median_linkage}) {
        SCOPED_TRACE(static_cast<int>(method));
        const auto tree = tree_of({kNaN, 2, 1}, method);
        ASSERT_EQ(tree.size(), 2u);
        EXPECT_EQ(tree[0].left_id, 1);
        EXPECT_EQ(tree[0].right_id, 2);
        EXPECT_EQ(tree[0].distance, 1.0);
        // All NaN: the first pair merges.
        const auto all_nan = tree_of({kNaN, kNaN, kNaN}, method);
        ASSERT_EQ(all_nan.size(), 2u);
        EXPECT_EQ(all_nan[0].left_id, 0);
        EXPECT_EQ(all_nan[0].right_id, 1);
        EXPECT_TRUE(std::isnan(all_nan[0].distance));
    }
    // A NaN height never joins under a cut.
    EXPECT_EQ(labels_of({{0, 1, kNaN}}, 1e300), (std::vector<std::uint32_t>{1, 2}));
}

TEST(CalculateAverageWeight, ProductsOfCurrentClusterSizes) {
    std::vector<double> W{9};
    // Rows hold clusters 3 (size 2), 1 (size 1), 4 (size 3).
    calculate_avearge_weight({1, 1, 1, 2, 3}, {3, 1, 4}, 3, W);
    EXPECT_EQ(W, (std::vector<double>{9, 2, 6, 3}));
}

TEST(Cluster, TreesLinkageCannotBuildGiveNoLabels) {
    const struct {
        const char* name;
        std::vector<cluster_node> tree;
    } rows[] = {
        {"negative id", {{-1, 1, 0}}},
        {"id beyond every cluster", {{0, 5, 0}}},
        {"child made after its parent", {{0, 4, 0}, {1, 2, 0}}},
        {"node refers to itself", {{0, 3, 0}, {1, 2, 0}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(labels_of(row.tree, 1).empty());
        std::vector<bool> conn;
        checkcut(row.tree, 1, conn);
        EXPECT_TRUE(conn.empty());
    }
    std::vector<std::uint32_t> res;
    labeltree({{0, 1, 0}}, {true, false}, res);
    EXPECT_TRUE(res.empty());
}

TEST(Cluster, HelperFunctions) {
    EXPECT_FALSE(test_anybit_true({}));
    EXPECT_FALSE(test_anybit_true({false, false}));
    EXPECT_TRUE(test_anybit_true({false, true}));
    std::vector<std::uint32_t> res{7, 3, 7, 12, 3};
    cluster_res_unique(res);
    EXPECT_EQ(res, (std::vector<std::uint32_t>{2, 1, 2, 3, 1}));
    // conn: a link stays connected only with every link below it.
    std::vector<bool> conn;
    checkcut({{0, 1, 1}, {2, 3, 5}, {4, 5, 2}}, 2, conn);
    EXPECT_EQ(conn, (std::vector<bool>{true, false, false}));
}

// Random lists with many ties (a few distinct values) and some NaN, every size from 0 to 40 and a
// few larger, all five methods: the engine's linkage must give the transcription's tree bit for
// bit, and the cut the same labels.
TEST(Linkage, MatchesPlainTranscription) {
    std::mt19937_64 rng(20261209);
    std::vector<std::size_t> sizes;
    for (std::size_t m = 0; m <= 40; ++m) sizes.push_back(m);
    for (std::size_t m : {57u, 90u, 131u}) sizes.push_back(m);
    std::size_t checked = 0;
    for (const std::size_t m : sizes) {
        for (int variant = 0; variant < 6; ++variant) {
            std::vector<double> dist(m * (m - (m > 0)) / 2);
            std::uniform_int_distribution<int> small(0, variant < 2 ? 3 : 9);
            std::uniform_real_distribution<double> real(0, 100);
            for (double& d : dist) {
                d = variant < 4 ? small(rng) : real(rng);
                if (variant == 3 && rng() % 17 == 0) d = kNaN;
                if (variant == 5 && rng() % 5 == 0) d = std::floor(d);
            }
            for (const cluster_method method :
                 {single_linkage, complete_linkage, average_linkage, weighted_linkage, median_linkage}) {
                SCOPED_TRACE("m=" + std::to_string(m) + " variant=" + std::to_string(variant) +
                             " method=" + std::to_string(static_cast<int>(method)));
                std::vector<cluster_node> fast, slow;
                linkage(dist, method, fast);
                oracle::linkage(dist, method, slow);
                ASSERT_EQ(fast.size(), slow.size());
                for (std::size_t r = 0; r < fast.size(); ++r) {
                    ASSERT_EQ(fast[r].left_id, slow[r].left_id) << "node " << r;
                    ASSERT_EQ(fast[r].right_id, slow[r].right_id) << "node " << r;
                    ASSERT_EQ(std::bit_cast<std::uint64_t>(fast[r].distance), std::bit_cast<std::uint64_t>(slow[r].distance))
                        << "node " << r << std::hexfloat << ' ' << fast[r].distance << " vs " << slow[r].distance;
                }
                for (const double cut : {0.0, 1.0, 2.5, 5.0, 50.0}) {
                    std::vector<std::uint32_t> a, b;
                    cluster(fast, cut, a);
                    oracle::cluster(slow, cut, b);
                    ASSERT_EQ(a, b) << "cut " << cut;
                }
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, sizes.size() * 6 * 5);
}

}  // namespace
