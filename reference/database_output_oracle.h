// The result databases written the plain way: shape text through snprintf "%.6f" and "%u", one
// CppSQLite3Binary per shape (setBinary, getEncoded), one formatted statement per row with the
// text values between apostrophes as they are, the trace list consumed from the front. For
// comparison with the writers; callers give it finite reals and texts without apostrophes.
#pragma once

#include <cstdio>
#include <filesystem>
#include <list>
#include <string>
#include <vector>

#include "engine/records/records.h"
#include "sqlitewrap/cppsqlite3.h"

namespace korvane::oracle {

inline std::string shape_text(const std::vector<Data_Point>& shape) {
    std::string text;
    char number[512];
    for (std::size_t i = 0; i < shape.size(); ++i) {
        std::snprintf(number, sizeof number, "%.6f,%.6f,%.6f,%u", shape[i].intensity, shape[i].mz,
                      shape[i].retention_time, shape[i].scan_num);
        if (i > 0) text += ",";
        text += number;
    }
    return text;
}

inline void write_annotated_database(std::vector<Chromatogram_Peak_Group_Compound> peaks,
                                     std::list<Mass_Trace> traces, const std::string& full_path) {
    std::filesystem::remove(full_path);
    CppSQLite3DB db;
    db.open(full_path.c_str());
    db.execDML(
        "create table Annotate_Peaklist(EIC_ID int,Peak_ID int, Apex_MZ double, Apex_Pos int, "
        "Apex_Retention_Time double, Apex_Intensity double, Peak_Area double, Peak_SNR double, "
        "Left_Boundary int, Right_Boundary int, Group_ID int, Adduct_Annotation char(80), Compound_ID "
        "int, Compound_MolecularMass double, Compound_Retention_Time double, Compound_Intensity double, "
        "Peak_shape blob);");
    db.execDML("begin transaction;");
    for (const auto& p : peaks) {
        const std::string text = shape_text(p.Peak_shape);
        CppSQLite3Binary blob;
        blob.setBinary(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
        CppSQLite3Buffer sql;
        sql.format(
            "insert into Annotate_Peaklist values(%d, %d, %f, %d, %f, %f, %f, %f, %d, %d, %d, '%s', %d, "
            "%f, %f, %f, %Q);",
            p.EIC_ID, p.Peak_ID, p.Apex_MZ, p.Apex_Pos, p.Apex_Retention_Time, p.Apex_Intensity,
            p.Peak_Area, p.Peak_SNR, p.Left_Boundary, p.Right_Boundary, p.Group_ID,
            p.Adduct_Annotation.c_str(), p.Compound_ID, p.Compound_MolecularMass,
            p.Compound_Retention_Time, p.Compound_Intensity, blob.getEncoded());
        db.execDML(sql);
    }
    db.execDML("commit transaction;");
    db.execDML(
        "create table Mass_Tracelist(EIC_ID int, Cent_Mass double,trace_length int, miss_count int, "
        "EIC_shape blob);");
    db.execDML("begin transaction;");
    int counter = 0;
    while (!traces.empty()) {
        const Mass_Trace& t = traces.front();
        const std::string text = shape_text(t.EIC_shape);
        CppSQLite3Binary blob;
        blob.setBinary(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
        CppSQLite3Buffer sql;
        sql.format("insert into Mass_Tracelist values(%d, %f, %d, %d, %Q);", counter, t.Cent_Mass,
                   t.trace_length, t.miss_count, blob.getEncoded());
        db.execDML(sql);
        traces.pop_front();
        ++counter;
    }
    db.execDML("commit transaction;");
    db.close();
}

inline void write_aligned_database(const std::vector<Chromatogram_Peak_Group_Compound_Align>& rows,
                                   const std::string& full_path) {
    std::filesystem::remove(full_path);
    CppSQLite3DB db;
    db.open(full_path.c_str());
    db.execDML(
        "create table Align_Peaklist(EIC_ID int,Peak_ID int, Apex_MZ double, Apex_Pos int, "
        "Apex_Retention_Time double, Apex_Intensity double, Peak_Area double, Peak_SNR double, "
        "Left_Boundary int, Right_Boundary int, Group_ID int, Adduct_Annotation char(80), Compound_ID "
        "int, Compound_MolecularMass double, Compound_Retention_Time double, Compound_Intensity double, "
        "SAMPLE_ID int, SAMPLE_NAME char(256), Align_ID int, Align_RT double, Peak_shape blob);");
    db.execDML("begin transaction;");
    for (const auto& p : rows) {
        const std::string text = shape_text(p.Peak_shape);
        CppSQLite3Binary blob;
        blob.setBinary(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
        CppSQLite3Buffer sql;
        sql.format(
            "insert into Align_Peaklist values(%d, %d, %f, %d, %f, %f, %f, %f, %d, %d, %d, '%s', %d, "
            "%f, %f, %f, %d, '%s', %d, %f, %Q);",
            p.EIC_ID, p.Peak_ID, p.Apex_MZ, p.Apex_Pos, p.Apex_Retention_Time, p.Apex_Intensity,
            p.Peak_Area, p.Peak_SNR, p.Left_Boundary, p.Right_Boundary, p.Group_ID,
            p.Adduct_Annotation.c_str(), p.Compound_ID, p.Compound_MolecularMass,
            p.Compound_Retention_Time, p.Compound_Intensity, p.SAMPLE_ID, p.SAMPLE_NAME.c_str(),
            p.Align_ID, p.Align_RT, blob.getEncoded());
        db.execDML(sql);
    }
    db.execDML("commit transaction;");
    db.close();
}

}  // namespace korvane::oracle
