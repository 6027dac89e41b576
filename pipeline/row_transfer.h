// Moving the aligned rows of every pipeline process to rank 0.
//
// Each process other than rank 0 sends, on Boost.MPI's collectives tag, two messages: the byte
// size S of its packed buffer (one MPI_UNSIGNED) and the buffer itself (S MPI_PACKED). The buffer
// holds, in MPI_Pack order: the value count 1 (MPI_INT); the vector of rows as its class preamble
// (tracking flag 0 as one byte, class version 0 as MPI_UNSIGNED_CHAR), the row count
// (MPI_UNSIGNED) and the item version 0 (MPI_UNSIGNED_CHAR); then every row's members in the
// order of row_serialization.h. A point vector is laid out like the row vector, a string as its
// length (MPI_UNSIGNED) and its bytes (MPI_CHAR). The preamble of each of the four classes (row
// vector, row, point vector, point) appears once per buffer, before its first object.
//
// Boost.MPI's own packed archives write 8-byte counts and 4-byte versions, so the buffer is
// written and read by a small archive of our own that walks the same serialize functions.
#pragma once

#include <mpi.h>

#include <cstddef>
#include <stdexcept>
#include <vector>

#include <boost/mpi/communicator.hpp>

#include "engine/records/error.h"
#include "engine/records/records.h"

namespace korvane {

// A packed buffer that does not hold what its counts promise (cut short, a count beyond the
// bytes left, bytes left over, a class version this program does not know).
class TransferError : public Error {
public:
    using Error::Error;
};

// The buffer one process sends. Throws std::length_error when it would exceed the 2^31-1 bytes
// that one MPI message can carry (rather than sending a truncated count).
std::vector<char> pack_align_rows(const std::vector<Chromatogram_Peak_Group_Compound_Align>& rows,
                                  MPI_Comm comm);

// Appends the rows of one received buffer. A value count above 1 throws std::range_error
// "communicator::recv: message receive overflow"; any other damage throws TransferError.
// Every count is checked against the bytes left before anything is allocated for it.
void unpack_align_rows(const std::vector<char>& buffer, MPI_Comm comm,
                       std::vector<Chromatogram_Peak_Group_Compound_Align>& rows);

// The size check used before sending: returns bytes as an int or throws std::length_error.
int checked_message_size(std::size_t bytes);

}  // namespace korvane

// On return in rank 0, list holds its own rows followed by those of ranks 1..size-1 in rank
// order; elsewhere list is unchanged. Rank 0 receives strictly in rank order.
void gather_align_lists(const boost::mpi::communicator& world, int rank, int size,
                        std::vector<Chromatogram_Peak_Group_Compound_Align>& list);
