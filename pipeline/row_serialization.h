// Member-wise archiving of the two record types that cross between pipeline processes. The same
// member lists drive Boost.Serialization archives and the row packer of row_transfer.h; the
// member order is the wire order, so it must not change.
#pragma once

#include <boost/serialization/level.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/tracking.hpp>
#include <boost/serialization/vector.hpp>
#include <boost/serialization/version.hpp>

#include "engine/records/records.h"

namespace boost::serialization {

template <class Archive>
void serialize(Archive& ar, Data_Point& point, const unsigned int /*version*/) {
    ar & point.scan_num;
    ar & point.retention_time;
    ar & point.mz;
    ar & point.intensity;
}

template <class Archive>
void serialize(Archive& ar, Chromatogram_Peak_Group_Compound_Align& row, const unsigned int /*version*/) {
    ar & row.Peak_shape;
    ar & row.EIC_ID;
    ar & row.Peak_ID;
    ar & row.Apex_MZ;
    ar & row.Apex_Pos;
    ar & row.Apex_Retention_Time;
    ar & row.Apex_Intensity;
    ar & row.Peak_Area;
    ar & row.Peak_SNR;
    ar & row.Left_Boundary;
    ar & row.Right_Boundary;
    ar & row.Group_ID;
    ar & row.Adduct_Annotation;
    ar & row.Compound_ID;
    ar & row.Compound_MolecularMass;
    ar & row.Compound_Retention_Time;
    ar & row.Compound_Intensity;
    ar & row.SAMPLE_ID;
    ar & row.SAMPLE_NAME;
    ar & row.Align_ID;
    ar & row.Align_RT;
}

}  // namespace boost::serialization

// Rows are values: no object is ever shared, so nothing is tracked. Class version 0 (the default).
BOOST_CLASS_IMPLEMENTATION(Data_Point, boost::serialization::object_class_info)
BOOST_CLASS_TRACKING(Data_Point, boost::serialization::track_never)
BOOST_CLASS_IMPLEMENTATION(Chromatogram_Peak_Group_Compound_Align, boost::serialization::object_class_info)
BOOST_CLASS_TRACKING(Chromatogram_Peak_Group_Compound_Align, boost::serialization::track_never)
