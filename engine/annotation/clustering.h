// Agglomerative clustering of a handful of items by a pairwise distance list, and the cut of the
// resulting tree at a threshold. Peak grouping clusters candidate peaks by shape angle; adduct
// annotation clusters candidate neutral masses.
//
// Pair order: a pairwise list over m items holds one value per unordered pair in row order of the
// upper triangle, (0,1), (0,2) ... (0,m-1), (1,2) ... (m-2,m-1); length m(m-1)/2. The item count
// is never passed: linkage recovers it from the list length as ceil(sqrt(2n)).
//
// Cluster ids: items are 0..m-1, the cluster made by merge s (from 1) is m-1+s. Node r of a tree
// describes cluster m+r. Labels returned by cluster are 1..k, numbered by ascending raw label.
//
// Outputs are appended to; callers pass them empty.
#pragma once

#include <cstdint>
#include <vector>

enum cluster_method {
    single_linkage = 0,
    complete_linkage = 1,
    average_linkage = 2,   // running sums of item distances; merges chosen by sum / (size * size)
    weighted_linkage = 3,
    median_linkage = 4,    // works on squared distances; node heights are their square roots
};

// One merge of the tree.
struct cluster_node {
    std::int32_t left_id = 0;   // smaller of the two merged cluster ids (signed comparison)
    std::int32_t right_id = 0;  // larger
    double distance = 0.0;      // merge height
};

// Appends |x_i - x_j| for every pair in pair order; two equal values give -0.0.
void p_dist(std::vector<double> data_arry, std::vector<double>& p_dist_arry);

// Appends m-1 merge nodes. Among equal smallest distances the first in pair order merges first; a
// distance that is not a number never wins unless every distance is one. A list whose length is
// not m(m-1)/2 prints "Error in linkage and W.size!=pdist_vec.size!" and appends nothing.
void linkage(std::vector<double> pdist_vec, cluster_method method, std::vector<cluster_node>& cluster_tree);

// Appends, for every pair of current rows i < j < m in pair order, N[R[j]] * N[R[i]] (32-bit product).
void calculate_avearge_weight(std::vector<std::int32_t> N, std::vector<std::int32_t> R, std::int32_t m,
                              std::vector<double>& W);

// Cuts the tree at cutoff_th (a height equal to the threshold stays joined) and appends one label
// per item, 1..k. An empty tree gives the single label 1. A tree linkage could not have built
// (an id out of range, a child cluster not made before its parent) gives no label at all.
void cluster(std::vector<cluster_node> cluster_tree, double cutoff_th, std::vector<std::uint32_t>& cluster_res);

// Appends one flag per node: true when the node and every cluster node below it lie at or below
// cutoff_th. Appends nothing for a tree linkage could not have built.
void checkcut(std::vector<cluster_node> cluster_tree, double cutoff_th, std::vector<bool>& conn);

// Appends one raw label per item (node count + 1 labels) from the cut flags. Appends nothing for a
// tree linkage could not have built or flags of the wrong count.
void labeltree(std::vector<cluster_node> cluster_tree, std::vector<bool> conn, std::vector<std::uint32_t>& cluster_res);

// Renumbers the labels in place to the 1-based rank of their value among the distinct values.
void cluster_res_unique(std::vector<std::uint32_t>& cluster_res);

// True when at least one flag is set; false for an empty vector.
bool test_anybit_true(std::vector<bool> bit_arry);
