// How many bytes a classic netCDF file ("CDF\1"), a 64-bit-offset file ("CDF\2") or a CDF-5 file
// ("CDF\5") must hold, worked out from its own header, and whether that header contradicts
// itself. The netCDF library reads past the end of such a file as zeros, takes the all-ones
// record count a streaming writer leaves for the file size to tell as that many records, and
// trusts the dimensions over each variable's stored size, so a sample cut short, one left by a
// streaming writer, or one whose dimension or type code was damaged, would otherwise be processed
// as if whole, or as billions of records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

struct Classic_Extent {
    enum class Kind {
        not_classic,  // another signature (netCDF-4/HDF5, text, ...): the library decides
        malformed,    // a classic signature but a header the library will refuse on its own
        measured,     // needed holds the bytes the header and all variable data occupy
    } kind = Kind::not_classic;
    // The end of the header plus, per variable, its begin offset and its data (for a record
    // variable the last record's slice). Saturates at UINT64_MAX. When the file ends inside the
    // header, the offset the header needed next.
    std::uint64_t needed = 0;
    // For a header read whole, why it contradicts itself, "" when it does not:
    // "variable <v> stores <n> bytes, its dimensions and type need <m>" (the stored size against
    // the dimensions and type, rounded up to 4 bytes) or "data of variables <a> and <b> overlap"
    // (a and b in header order).
    std::string damage;
    // For a header read whole, the records a reader may take: the stored count, or for the
    // all-ones count of a streaming writer the records whose every record variable's slice lies
    // wholly inside the file (0 when there is no record variable). The library reports the length
    // of every record dimension as the stored count, all ones included, so a reader caps what it
    // asks of these dimensions (ids in header order, every one stored with length 0) at records.
    std::uint64_t records = 0;
    std::vector<int> record_dimensions;
};

// Reads the header of the open file fd, file_size bytes long; never allocates more than the file
// holds and never reads the data. A streaming count is measured, and checked for overlap, as the
// whole records the file holds, so such a file is never "truncated" by its records; a stored
// count whose records run past the end of the file is.
Classic_Extent classic_extent(int fd, std::uint64_t file_size);

}  // namespace korvane
