#include "engine/annotation/adduct_annotation.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>

#include "engine/annotation/clustering.h"
#include "engine/annotation/shape_angle.h"
#include "engine/records/variant.h"

namespace {

using Group_Peak = Chromatogram_Peak_Group;
using Compound_Row = Chromatogram_Peak_Group_Compound;
using Point_Iterator = std::vector<peak_adduct_annotation_point>::iterator;
using Label_Runs = std::vector<std::pair<Point_Iterator, Point_Iterator>>;

// Shape comparisons of the refinement tolerate the same few scans of drift as grouping does.
constexpr std::int32_t kRefineShiftTol = korvane::detail::kGroupShapeShift;

const char* main_label(LC_Polar_Mode mode) { return mode == LC_Negative_Mode ? "[M-H]-" : "[M+H]+"; }
const char* refined_label(LC_Polar_Mode mode) { return mode == LC_Negative_Mode ? "[M-X]-" : "[M+X]+"; }

// The first row must be the mode's proton adduct, depending on nothing. A row that cannot
// give a neutral mass (no molecule in the ion) would divide by zero and carry infinities into the
// clustering and the result files, so it is refused here too.
void check_adduct_table(const std::vector<adduct_configure_node>& table, LC_Polar_Mode mode) {
    const std::string label = main_label(mode);
    if (table.empty() || table.front().Formula != label || table.front().Dependence != 0)
        throw korvane::AdductConfigError(
            "Adduct_config_File is not correct! The first row's Dependence should be 0 and Formula should be " + label);
    for (std::size_t row = 0; row < table.size(); ++row)
        if (table[row].Molecule_Count <= 0)
            throw korvane::AdductConfigError("Adduct_config_File is not correct! The Molecule_Count at Row=" +
                                             std::to_string(row + 1) + " should be greater than 0");
}

Compound_Row compound_row_of(const Group_Peak& peak, const std::string& label, std::uint32_t compound_id,
                             double molecular_mass) {
    Compound_Row row;
    row.Peak_shape = peak.Peak_shape;
    korvane::copy_peak_scalars(peak, row);
    row.Group_ID = peak.Group_ID;
    row.Adduct_Annotation = label;
    row.Compound_ID = compound_id;
    row.Compound_MolecularMass = molecular_mass;
    row.Compound_Retention_Time = 0;
    row.Compound_Intensity = 0;
    return row;
}

// The HMDB monoisotopic masses, sorted once per call for the lookups of every group.
class Mass_Table {
public:
    explicit Mass_Table(std::vector<double> masses) : masses_(std::move(masses)) {
        // A NaN would break the ordering the searches rely on, and matches nothing anyway.
        masses_.erase(std::remove_if(masses_.begin(), masses_.end(), [](double m) { return std::isnan(m); }),
                      masses_.end());
        std::sort(masses_.begin(), masses_.end());
    }

    // Whether some mass lies in [M - tol, M + tol]. An empty interval (a negative or NaN
    // tolerance) holds none, where a count of upper minus lower bound would wrap.
    bool any_within(double M, double tol) const {
        const double lo = M - tol, hi = M + tol;
        if (!(lo <= hi)) return false;
        return std::upper_bound(masses_.begin(), masses_.end(), hi) -
                   std::lower_bound(masses_.begin(), masses_.end(), lo) > 0;
    }

private:
    std::vector<double> masses_;
};

struct Annotation_Context {
    const std::vector<adduct_configure_node>& table;
    const std::vector<std::int32_t>& dependence;
    const Mass_Table& hmdb;
    double mass_tol;
    double refine_angle_th;
    LC_Polar_Mode mode;
    std::uint32_t compound_counter = 0;
};

// 1. Compounds from the clustering of every member read as every adduct row, numbered in label
// order.
void cluster_adduct_readings(Annotation_Context& ctx, const std::vector<Group_Peak>& members,
                             std::vector<char>& annotated, std::vector<Compound_Row>& result) {
    const std::size_t A = ctx.table.size();
    std::vector<double> masses;
    masses.reserve(members.size() * A);
    for (const Group_Peak& peak : members)
        for (const adduct_configure_node& adduct : ctx.table)
            masses.push_back((static_cast<double>(adduct.Charge_Count) * peak.Apex_MZ - adduct.Mass_Shift) /
                             static_cast<double>(adduct.Molecule_Count));

    std::vector<double> distances;
    p_dist(masses, distances);
    std::vector<cluster_node> tree;
    linkage(std::move(distances), complete_linkage, tree);
    std::vector<std::uint32_t> labels;
    cluster(std::move(tree), ctx.mass_tol, labels);
    if (labels.size() != masses.size()) return;  // only a tree linkage did not build gives fewer

    std::vector<std::int32_t> unique;
    peakset_unique_process(std::move(labels), static_cast<std::uint32_t>(A), ctx.dependence, unique);
    const std::int32_t largest = unique.empty() ? 0 : *std::max_element(unique.begin(), unique.end());
    if (largest <= 0) return;

    std::vector<std::size_t> label_count(static_cast<std::size_t>(largest) + 1, 0);
    for (std::int32_t v : unique)
        if (v > 0) ++label_count[static_cast<std::size_t>(v)];
    std::vector<peak_adduct_annotation_point> kept;
    for (std::size_t i = 0; i < unique.size(); ++i) {
        const std::int32_t v = unique[i];
        if (v <= 0 || label_count[static_cast<std::size_t>(v)] < 2) continue;
        peak_adduct_annotation_point point;
        point.peak_index = static_cast<std::uint32_t>(i / A);
        point.adduct_index = static_cast<std::uint32_t>(i - point.peak_index * A);
        point.molecular_mass = masses[i];
        point.cluster_value = v;
        kept.push_back(point);
    }
    std::stable_sort(kept.begin(), kept.end(), Comp_annotation_by_value);

    for (std::size_t k = 0; k < kept.size(); ++k) {
        const peak_adduct_annotation_point& point = kept[k];
        if (k == 0 || point.cluster_value != kept[k - 1].cluster_value) ++ctx.compound_counter;
        result.push_back(compound_row_of(members[point.peak_index], ctx.table[point.adduct_index].Formula,
                                         ctx.compound_counter, point.molecular_mass));
        annotated[point.peak_index] = 1;
    }
}

// 2. Members left over, read as the (de)protonated molecule, looked up among the HMDB masses.
void match_database(Annotation_Context& ctx, const std::vector<Group_Peak>& members, std::vector<char>& annotated,
                    std::vector<Compound_Row>& result) {
    const std::string label = main_label(ctx.mode);
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (annotated[i]) continue;
        const double M = ctx.mode == LC_Negative_Mode ? members[i].Apex_MZ + korvane::kProtonMass
                                                      : members[i].Apex_MZ - korvane::kProtonMass;
        if (!ctx.hmdb.any_within(M, ctx.mass_tol)) continue;
        ++ctx.compound_counter;
        result.push_back(compound_row_of(members[i], label, ctx.compound_counter, M));
        annotated[i] = 1;
    }
}

// 3. Members still left join the compound of the group they resemble most in shape.
void refine_by_shape(Annotation_Context& ctx, const std::vector<Group_Peak>& members, std::vector<char>& annotated,
                     std::uint32_t first_compound, std::vector<Compound_Row>& result) {
    const std::string label = refined_label(ctx.mode);
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (annotated[i] || result.empty()) continue;
        std::stable_sort(result.begin(), result.end(), Comp_Compoundpeak_by_Compound_ID);
        double best = DBL_MAX;
        std::uint32_t best_compound = 0;
        double best_mass = 0;
        auto it = result.begin();
        for (std::uint32_t c = first_compound; c <= ctx.compound_counter && c != 0; ++c) {
            it = std::find_if(it, result.end(), [c](const Compound_Row& row) { return row.Compound_ID >= c; });
            auto end = std::find_if(it, result.end(), [c](const Compound_Row& row) { return row.Compound_ID != c; });
            if (it == end) continue;
            double sum = 0;
            for (auto row = it; row != end; ++row) sum += calc_dotproduct_angle(members[i], *row, kRefineShiftTol);
            const double mean = sum / static_cast<double>(end - it);
            if (mean < best) {
                best = mean;
                best_compound = c;
                best_mass = it->Compound_MolecularMass;
            }
            it = end;
        }
        if (best <= ctx.refine_angle_th) {
            result.push_back(compound_row_of(members[i], label, best_compound, best_mass));
            annotated[i] = 1;
        } else {
            result.push_back(compound_row_of(members[i], label, 0, 0));
        }
    }
}

// Steps 1 to 4 for one group. A group that no step gives a row contributes none.
void annotate_group(Annotation_Context& ctx, const std::vector<Group_Peak>& members,
                    std::vector<Compound_Row>& peaklist_adduct_annotation) {
    std::vector<char> annotated(members.size(), 0);
    std::vector<Compound_Row> result;
    const std::uint32_t first_compound = ctx.compound_counter + 1;
    if (members.size() >= 2) cluster_adduct_readings(ctx, members, annotated, result);
    match_database(ctx, members, annotated, result);
    refine_by_shape(ctx, members, annotated, first_compound, result);
    if (result.empty()) return;
    // 4. Compound information, and the group's rows in Compound_ID order.
    std::stable_sort(result.begin(), result.end(), Comp_Compoundpeak_by_Compound_ID);
    Compound_Information_Retrieve(result);
    std::move(result.begin(), result.end(), std::back_inserter(peaklist_adduct_annotation));
}

// The labels the clustering gave, smallest to largest, as they stood after the first sort.
struct Label_Range {
    std::int64_t smallest;
    std::int64_t largest;
};

// For every label from smallest to largest, the run of points that carry it (empty when none),
// in a list sorted by cluster_value.
Label_Runs label_runs(std::vector<peak_adduct_annotation_point>& points, Label_Range labels) {
    Label_Runs runs(static_cast<std::size_t>(labels.largest - labels.smallest + 1), {points.end(), points.end()});
    for (auto it = points.begin(); it != points.end();) {
        const std::int32_t v = it->cluster_value;
        auto end = std::find_if(it, points.end(), [v](const peak_adduct_annotation_point& p) { return p.cluster_value != v; });
        if (v >= labels.smallest && v <= labels.largest)
            runs[static_cast<std::size_t>(v - labels.smallest)] = {it, end};
        it = end;
    }
    return runs;
}

// Whether a point's dependence chain reaches row 0 through rows present among the label's points.
// A chain that runs longer than the table has looped.
bool chain_complete(std::uint32_t adduct_index, const std::vector<std::int32_t>& dependence,
                    std::vector<peak_adduct_annotation_point>& label_points) {
    std::uint32_t row = adduct_index;
    for (std::size_t steps = 0; row != 0; ++steps) {
        if (steps > dependence.size() || row >= dependence.size()) return false;
        // Dependence 0 (or less) on a later row names no row: the wrapped index matches nothing.
        const auto wanted = static_cast<std::uint32_t>(static_cast<std::int64_t>(dependence[row]) - 1);
        if (find_by_adduct_index(label_points.begin(), label_points.end(), wanted) == label_points.end())
            return false;
        row = wanted;
    }
    return true;
}

// One point per (peak, adduct row) reading, in the order of the clustering's input.
std::vector<peak_adduct_annotation_point> annotation_points(const std::vector<std::uint32_t>& cluster_res,
                                                            std::uint32_t adduct_config_num) {
    std::vector<peak_adduct_annotation_point> points(cluster_res.size());
    for (std::size_t i = 0; i < cluster_res.size(); ++i) {
        points[i].peak_index = static_cast<std::uint32_t>(i / adduct_config_num);
        points[i].adduct_index = static_cast<std::uint32_t>(i - points[i].peak_index * adduct_config_num);
        points[i].molecular_mass = 0;
        points[i].cluster_value = static_cast<std::int32_t>(cluster_res[i]);
    }
    return points;
}

// Drops the points of one label whose chain is broken, and the last point left alone by them.
void drop_broken_chains_of(std::int32_t v, Point_Iterator first, Point_Iterator last,
                           const std::vector<std::int32_t>& dependence) {
    const std::ptrdiff_t m = last - first;
    if (m == 0) {
        std::cout << "Adduct Annotation: empty cluster are grouped!" << std::endl;
        return;
    }
    if (m == 1) {
        first->cluster_value = -first->cluster_value;
        return;
    }
    std::vector<peak_adduct_annotation_point> as_taken(first, last);
    std::ptrdiff_t broken = 0;
    for (auto it = first; it != last; ++it) {
        if (chain_complete(it->adduct_index, dependence, as_taken)) continue;
        it->cluster_value = -it->cluster_value;
        ++broken;
    }
    if (m - broken == 1) {
        auto lone = find_by_cluster_value(first, last, v);
        if (lone != last) lone->cluster_value = -lone->cluster_value;
    }
}

// 1a. Every point's adduct must lead back to row 0 through rows present in its cluster.
void drop_broken_chains(const Label_Runs& runs, Label_Range labels, const std::vector<std::int32_t>& dependence) {
    for (std::int64_t v64 = labels.smallest; v64 <= labels.largest; ++v64) {
        const auto [first, last] = runs[static_cast<std::size_t>(v64 - labels.smallest)];
        drop_broken_chains_of(static_cast<std::int32_t>(v64), first, last, dependence);
    }
}

// The peaks of the points of the run that still carry label c.
std::vector<std::uint32_t> peaks_labelled(Point_Iterator first, Point_Iterator last, std::int32_t c) {
    std::vector<std::uint32_t> peaks;
    for (auto it = first; it != last; ++it)
        if (it->cluster_value == c) peaks.push_back(it->peak_index);
    return peaks;
}

// Compares cluster c (its undropped points `taken`) with every later cluster.
void drop_contained_against_later(const Label_Runs& runs, Label_Range labels, std::int64_t c64,
                                  const std::vector<Point_Iterator>& taken) {
    const auto c = static_cast<std::int32_t>(c64);
    std::vector<std::uint32_t> set_1;
    for (Point_Iterator it : taken) set_1.push_back(it->peak_index);
    for (std::int64_t c2_64 = c64 + 1; c2_64 <= labels.largest; ++c2_64) {
        const auto [c2_first, c2_last] = runs[static_cast<std::size_t>(c2_64 - labels.smallest)];
        const std::vector<std::uint32_t> set_2 = peaks_labelled(c2_first, c2_last, static_cast<std::int32_t>(c2_64));
        if (set_2.empty()) continue;
        switch (set_contain_relation(set_1, set_2)) {
        case Set_1_Contain_Set_2:
            for (auto it = c2_first; it != c2_last; ++it)
                if (it->cluster_value > 0) it->cluster_value = -it->cluster_value;
            break;
        case Set_2_Contain_Set_1:
            // Once dropped a cluster stays dropped, however many others contain it.
            for (Point_Iterator it : taken) it->cluster_value = -c;
            break;
        case Set_No_Contain:
            break;
        }
    }
}

// 1b. Of two clusters over the same peaks the smaller label stays; a cluster whose peaks are
// contained in another's goes.
void drop_contained_clusters(const Label_Runs& runs, Label_Range labels) {
    for (std::int64_t c64 = labels.smallest; c64 < labels.largest; ++c64) {
        const auto c = static_cast<std::int32_t>(c64);
        if (c <= 0) continue;  // nothing undropped carries a label below 1
        const auto [c_first, c_last] = runs[static_cast<std::size_t>(c64 - labels.smallest)];
        std::vector<Point_Iterator> taken;
        for (auto it = c_first; it != c_last; ++it)
            if (it->cluster_value == c) taken.push_back(it);
        if (!taken.empty()) drop_contained_against_later(runs, labels, c64, taken);
    }
}

}  // namespace

void adduct_annotation(std::vector<Chromatogram_Peak_Group> peaklist_groupped,
                       std::vector<adduct_configure_node> adduct_configure_arry,
                       std::vector<double> hmdb_mass_weight_arry, double Mass_Tol, double Group_Refine_Angle_Th,
                       LC_Polar_Mode Polar_Mode,
                       std::vector<Chromatogram_Peak_Group_Compound>& peaklist_adduct_annotation) {
    check_adduct_table(adduct_configure_arry, Polar_Mode);
    std::vector<std::int32_t> dependence;
    for (const adduct_configure_node& row : adduct_configure_arry) dependence.push_back(row.Dependence);
    const Mass_Table hmdb(std::move(hmdb_mass_weight_arry));
    Annotation_Context ctx{adduct_configure_arry, dependence, hmdb, Mass_Tol, Group_Refine_Angle_Th, Polar_Mode};

    if (peaklist_groupped.empty()) return;
    std::stable_sort(peaklist_groupped.begin(), peaklist_groupped.end(), Comp_Grouppeak_by_Group_ID);

    // Values between two groups carry no peak and yield nothing, so the loop goes from group to
    // group; the values it passes on the way are still reported with the group that ends the gap.
    std::vector<Group_Peak> members;
    std::uint64_t unreported = peaklist_groupped.front().Group_ID;
    for (auto next = peaklist_groupped.begin(); next != peaklist_groupped.end();) {
        const std::uint32_t g = next->Group_ID;
        korvane::variant::adduct_annotation_groups_reached(unreported, g);
        unreported = std::uint64_t{g} + 1;
        members.clear();
        while (next != peaklist_groupped.end() && next->Group_ID == g) members.push_back(std::move(*next++));
        annotate_group(ctx, members, peaklist_adduct_annotation);
    }
}

void peakset_unique_process(std::vector<std::uint32_t> cluster_res, std::uint32_t adduct_config_num,
                            std::vector<std::int32_t> param_dependence_arry,
                            std::vector<std::int32_t>& unique_cluster_res) {
    unique_cluster_res.assign(cluster_res.size(), 0);
    if (cluster_res.empty() || adduct_config_num == 0) return;

    std::vector<peak_adduct_annotation_point> points = annotation_points(cluster_res, adduct_config_num);

    // 1a. Sorted by label, each label's points form one run; the checks only negate values, so a
    // label's undropped points are always found in the run its value had after the sort.
    std::stable_sort(points.begin(), points.end(), Comp_annotation_by_value);
    const Label_Range labels{points.front().cluster_value, points.back().cluster_value};
    drop_broken_chains(label_runs(points, labels), labels, param_dependence_arry);

    // 1b. Sorted again, dropped points first.
    std::stable_sort(points.begin(), points.end(), Comp_annotation_by_value);
    drop_contained_clusters(label_runs(points, labels), labels);

    // The labels back in candidate order.
    for (const peak_adduct_annotation_point& p : points)
        unique_cluster_res[static_cast<std::size_t>(p.peak_index) * adduct_config_num + p.adduct_index] =
            p.cluster_value;
}

Set_Relationship set_contain_relation(std::vector<std::uint32_t> set_1, std::vector<std::uint32_t> set_2) {
    std::sort(set_1.begin(), set_1.end());
    std::sort(set_2.begin(), set_2.end());
    std::vector<std::uint32_t> united;
    std::set_union(set_1.begin(), set_1.end(), set_2.begin(), set_2.end(), std::back_inserter(united));
    if (united.size() == set_1.size()) return Set_1_Contain_Set_2;
    if (united.size() == set_2.size()) return Set_2_Contain_Set_1;
    return Set_No_Contain;
}

void Compound_Information_Retrieve(std::vector<Chromatogram_Peak_Group_Compound>& peaklist_adduct_annotation) {
    auto& rows = peaklist_adduct_annotation;
    std::vector<double> rts, masses;
    for (auto first = rows.begin(); first != rows.end();) {
        const std::uint32_t id = first->Compound_ID;
        auto last = std::find_if(first, rows.end(), [id](const Compound_Row& r) { return r.Compound_ID != id; });
        if (id != 0) {
            const double intensity =
                std::max_element(first, last, Comp_Compoundpeak_by_Peak_Apex_Intensity)->Apex_Intensity;
            rts.clear();
            masses.clear();
            for (auto it = first; it != last; ++it) {
                rts.push_back(it->Apex_Retention_Time);
                masses.push_back(it->Compound_MolecularMass);
            }
            const double rt = calc_median(rts);
            const double mass = calc_median(masses);
            for (auto it = first; it != last; ++it) {
                it->Compound_Intensity = intensity;
                it->Compound_Retention_Time = rt;
                it->Compound_MolecularMass = mass;
            }
        }
        first = last;
    }
}

std::vector<peak_adduct_annotation_point>::iterator find_by_adduct_index(
    std::vector<peak_adduct_annotation_point>::iterator It_Lower,
    std::vector<peak_adduct_annotation_point>::iterator It_Upper, std::uint32_t find_adduct_index) {
    return std::find_if(It_Lower, It_Upper, [find_adduct_index](const peak_adduct_annotation_point& p) {
        return p.adduct_index == find_adduct_index;
    });
}

std::vector<peak_adduct_annotation_point>::iterator find_by_cluster_value(
    std::vector<peak_adduct_annotation_point>::iterator It_Lower,
    std::vector<peak_adduct_annotation_point>::iterator It_Upper, std::int32_t find_value) {
    return std::find_if(It_Lower, It_Upper,
                        [find_value](const peak_adduct_annotation_point& p) { return p.cluster_value == find_value; });
}
