#include "pipeline/row_transfer.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <type_traits>
#include <typeindex>

#include <boost/mpi/environment.hpp>
#include <boost/mpi/exception.hpp>

#include "pipeline/row_serialization.h"

namespace korvane {
namespace {

using Row = Chromatogram_Peak_Group_Compound_Align;

constexpr int kValueCount = 1;
constexpr unsigned char kItemVersion = 0;
constexpr unsigned char kClassVersion = 0;
constexpr unsigned char kTrackingNever = 0;

void check_mpi(int code, const char* routine) {
    if (code != MPI_SUCCESS) throw boost::mpi::exception(routine, code);
}

// Packed size of one item of each datatype the layout uses; constant for a communicator.
struct PackedUnits {
    int byte = 0, uchar = 0, character = 0, uint = 0, sint = 0, real = 0;

    explicit PackedUnits(MPI_Comm comm) {
        check_mpi(MPI_Pack_size(1, MPI_BYTE, comm, &byte), "MPI_Pack_size");
        check_mpi(MPI_Pack_size(1, MPI_UNSIGNED_CHAR, comm, &uchar), "MPI_Pack_size");
        check_mpi(MPI_Pack_size(1, MPI_CHAR, comm, &character), "MPI_Pack_size");
        check_mpi(MPI_Pack_size(1, MPI_UNSIGNED, comm, &uint), "MPI_Pack_size");
        check_mpi(MPI_Pack_size(1, MPI_INT, comm, &sint), "MPI_Pack_size");
        check_mpi(MPI_Pack_size(1, MPI_DOUBLE, comm, &real), "MPI_Pack_size");
    }

    std::size_t of(MPI_Datatype type) const {
        if (type == MPI_BYTE) return byte;
        if (type == MPI_UNSIGNED_CHAR) return uchar;
        if (type == MPI_CHAR) return character;
        if (type == MPI_UNSIGNED) return uint;
        if (type == MPI_INT) return sint;
        return real;
    }
};

// Counts bytes without packing, in 64 bits, so an oversized list is caught before any MPI call.
class SizeSink {
public:
    explicit SizeSink(const PackedUnits& units) : units_(units) {}
    void write(const void*, std::size_t count, MPI_Datatype type) { total_ += count * units_.of(type); }
    std::size_t total() const { return total_; }

private:
    const PackedUnits& units_;
    std::size_t total_ = 0;
};

class PackSink {
public:
    PackSink(MPI_Comm comm, std::vector<char>& buffer) : comm_(comm), buffer_(buffer) {}
    void write(const void* data, std::size_t count, MPI_Datatype type) {
        check_mpi(MPI_Pack(data, static_cast<int>(count), type, buffer_.data(),
                           static_cast<int>(buffer_.size()), &position_, comm_),
                  "MPI_Pack");
    }
    int position() const { return position_; }

private:
    MPI_Comm comm_;
    std::vector<char>& buffer_;
    int position_ = 0;
};

class UnpackSource {
public:
    UnpackSource(MPI_Comm comm, const std::vector<char>& buffer, const PackedUnits& units)
        : comm_(comm), buffer_(buffer), units_(units) {}

    void read(void* data, std::size_t count, MPI_Datatype type) {
        const std::size_t unit = units_.of(type);
        if (count > remaining() / unit)
            throw TransferError("packed rows end early: " + std::to_string(count * unit) +
                                " bytes needed at offset " + std::to_string(position_) + " of " +
                                std::to_string(buffer_.size()));
        if (count == 0) return;
        check_mpi(MPI_Unpack(buffer_.data(), static_cast<int>(buffer_.size()), &position_, data,
                             static_cast<int>(count), type, comm_),
                  "MPI_Unpack");
    }
    std::size_t remaining() const { return buffer_.size() - static_cast<std::size_t>(position_); }
    int position() const { return position_; }

private:
    MPI_Comm comm_;
    const std::vector<char>& buffer_;
    const PackedUnits& units_;
    int position_ = 0;
};

// Remembers which classes already had their preamble in this buffer.
class PreambleLog {
public:
    bool first(std::type_index type) {
        if (std::find(seen_.begin(), seen_.end(), type) != seen_.end()) return false;
        seen_.push_back(type);
        return true;
    }
    void mark_all_seen() { all_seen_ = true; }
    bool all_seen() const { return all_seen_; }

private:
    std::vector<std::type_index> seen_;
    bool all_seen_ = false;
};

template <class T>
concept ArchivedClass = std::is_class_v<T>;

// Writing side of the layout, walking the serialize member lists.
template <class Sink>
class RowWriter {
public:
    explicit RowWriter(Sink& sink) : sink_(sink) {}

    template <class T>
    RowWriter& operator&(T& value) {
        put(value);
        return *this;
    }

    void put(std::uint32_t& value) { sink_.write(&value, 1, MPI_UNSIGNED); }
    void put(double& value) { sink_.write(&value, 1, MPI_DOUBLE); }
    void put(std::string& text) {
        std::uint32_t length = checked_length(text.size());
        sink_.write(&length, 1, MPI_UNSIGNED);
        sink_.write(text.data(), length, MPI_CHAR);
    }
    template <class T>
    void put(std::vector<T>& items) {
        preamble<std::vector<T>>();
        std::uint32_t count = checked_length(items.size());
        unsigned char item_version = kItemVersion;
        sink_.write(&count, 1, MPI_UNSIGNED);
        sink_.write(&item_version, 1, MPI_UNSIGNED_CHAR);
        for (T& item : items) put(item);
    }
    template <ArchivedClass T>
    void put(T& object) {
        preamble<T>();
        boost::serialization::serialize(*this, object, 0u);
    }

    void skip_preambles() { log_.mark_all_seen(); }

private:
    template <class T>
    void preamble() {
        if (log_.all_seen() || !log_.first(typeid(T))) return;
        // The tracking flag goes out as one MPI_BYTE (Boost sends it as a one-byte contiguous type).
        unsigned char tracking = kTrackingNever, version = kClassVersion;
        sink_.write(&tracking, 1, MPI_BYTE);
        sink_.write(&version, 1, MPI_UNSIGNED_CHAR);
    }
    static std::uint32_t checked_length(std::size_t n) {
        if (n > UINT32_MAX) throw std::length_error("too many items for a 32-bit count: " + std::to_string(n));
        return static_cast<std::uint32_t>(n);
    }

    Sink& sink_;
    PreambleLog log_;
};

// Least packed size of one element without its preamble (empty vectors and strings): the bound
// that every received count is checked against.
template <class T>
std::size_t least_packed_size(const PackedUnits& units) {
    SizeSink sink(units);
    RowWriter<SizeSink> writer(sink);
    writer.skip_preambles();
    T empty{};
    writer.put(empty);
    return sink.total();
}

// Reading side: the mirror of RowWriter.
class RowReader {
public:
    RowReader(UnpackSource& source, const PackedUnits& units)
        : source_(source),
          least_point_(least_packed_size<Data_Point>(units)),
          least_row_(least_packed_size<Row>(units)) {}

    template <class T>
    RowReader& operator&(T& value) {
        get(value);
        return *this;
    }

    void get(std::uint32_t& value) { source_.read(&value, 1, MPI_UNSIGNED); }
    void get(double& value) { source_.read(&value, 1, MPI_DOUBLE); }
    void get(std::string& text) {
        std::uint32_t length = 0;
        source_.read(&length, 1, MPI_UNSIGNED);
        check_count(length, 1, "text");
        text.resize(length);
        source_.read(text.data(), length, MPI_CHAR);
    }
    template <class T>
    void get(std::vector<T>& items) {
        preamble<std::vector<T>>();
        std::uint32_t count = 0;
        unsigned char item_version = 0;
        source_.read(&count, 1, MPI_UNSIGNED);
        source_.read(&item_version, 1, MPI_UNSIGNED_CHAR);
        if (item_version != kItemVersion)
            throw TransferError("unknown item version " + std::to_string(item_version));
        check_count(count, least_size(static_cast<T*>(nullptr)), "items");
        items.resize(items.size() + count);
        for (std::size_t k = items.size() - count; k < items.size(); ++k) get(items[k]);
    }
    template <ArchivedClass T>
    void get(T& object) {
        preamble<T>();
        boost::serialization::serialize(*this, object, 0u);
    }

private:
    template <class T>
    void preamble() {
        if (!log_.first(typeid(T))) return;
        unsigned char tracking = 0, version = 0;
        source_.read(&tracking, 1, MPI_BYTE);
        source_.read(&version, 1, MPI_UNSIGNED_CHAR);
        if (version != kClassVersion) throw TransferError("unknown class version " + std::to_string(version));
    }
    std::size_t least_size(Data_Point*) const { return least_point_; }
    std::size_t least_size(Row*) const { return least_row_; }
    void check_count(std::uint32_t count, std::size_t least, const char* what) const {
        if (count > source_.remaining() / least)
            throw TransferError("packed rows are damaged: " + std::to_string(count) + " " + what +
                                " announced at offset " + std::to_string(source_.position()) +
                                " with only " + std::to_string(source_.remaining()) + " bytes left");
    }

    UnpackSource& source_;
    PreambleLog log_;
    std::size_t least_point_, least_row_;
};

}  // namespace

int checked_message_size(std::size_t bytes) {
    if (bytes > static_cast<std::size_t>(INT_MAX))
        throw std::length_error("the aligned rows of this process need " + std::to_string(bytes) +
                                " bytes, more than the " + std::to_string(INT_MAX) +
                                " bytes one MPI message can carry");
    return static_cast<int>(bytes);
}

std::vector<char> pack_align_rows(const std::vector<Row>& rows, MPI_Comm comm) {
    const PackedUnits units(comm);
    // The writer walks the same member lists as Boost's archives, which take objects by
    // non-const reference even when saving; nothing is modified.
    auto& list = const_cast<std::vector<Row>&>(rows);
    int value_count = kValueCount;

    SizeSink sizer(units);
    sizer.write(&value_count, 1, MPI_INT);
    RowWriter<SizeSink>(sizer).put(list);
    const int size = checked_message_size(sizer.total());

    std::vector<char> buffer(static_cast<std::size_t>(size));
    PackSink packer(comm, buffer);
    packer.write(&value_count, 1, MPI_INT);
    RowWriter<PackSink>(packer).put(list);
    buffer.resize(static_cast<std::size_t>(packer.position()));
    return buffer;
}

void unpack_align_rows(const std::vector<char>& buffer, MPI_Comm comm, std::vector<Row>& rows) {
    const PackedUnits units(comm);
    UnpackSource source(comm, buffer, units);
    int value_count = 0;
    source.read(&value_count, 1, MPI_INT);
    if (value_count > kValueCount) throw std::range_error("communicator::recv: message receive overflow");
    if (value_count < kValueCount)
        throw TransferError("packed rows are damaged: value count " + std::to_string(value_count));
    RowReader(source, units).get(rows);
    if (source.remaining() != 0)
        throw TransferError("packed rows are damaged: " + std::to_string(source.remaining()) +
                            " bytes left over after the rows");
}

}  // namespace korvane

void gather_align_lists(const boost::mpi::communicator& world, int rank, int size,
                        std::vector<Chromatogram_Peak_Group_Compound_Align>& list) {
    using korvane::check_mpi;
    const int tag = boost::mpi::environment::collectives_tag();
    MPI_Comm comm = world;

    if (rank != 0) {
        std::vector<char> buffer = korvane::pack_align_rows(list, comm);
        unsigned int bytes = static_cast<unsigned int>(buffer.size());
        check_mpi(MPI_Send(&bytes, 1, MPI_UNSIGNED, 0, tag, comm), "MPI_Send");
        check_mpi(MPI_Send(buffer.data(), static_cast<int>(bytes), MPI_PACKED, 0, tag, comm), "MPI_Send");
        return;
    }

    // Rank 0's own rows stay where they are; the other ranks' rows are appended in rank order.
    std::vector<std::vector<korvane::Row>> slots(static_cast<std::size_t>(std::max(size, 1)));
    std::vector<char> buffer;
    for (int source = 1; source < size; ++source) {
        unsigned int bytes = 0;
        check_mpi(MPI_Recv(&bytes, 1, MPI_UNSIGNED, source, tag, comm, MPI_STATUS_IGNORE), "MPI_Recv");
        const std::string from = "aligned rows from process " + std::to_string(source) + ": ";
        if (bytes > static_cast<unsigned int>(INT_MAX))
            throw korvane::TransferError(from + "announced " + std::to_string(bytes) +
                                         " bytes, more than one MPI message can carry");
        buffer.assign(bytes, 0);
        MPI_Status status;
        check_mpi(MPI_Recv(buffer.data(), static_cast<int>(bytes), MPI_PACKED, source, tag, comm, &status),
                  "MPI_Recv");
        int received = 0;
        check_mpi(MPI_Get_count(&status, MPI_PACKED, &received), "MPI_Get_count");
        if (static_cast<unsigned int>(received) != bytes)
            throw korvane::TransferError(from + "received " + std::to_string(received) + " of " +
                                         std::to_string(bytes) + " bytes");
        try {
            korvane::unpack_align_rows(buffer, comm, slots[static_cast<std::size_t>(source)]);
        } catch (const korvane::TransferError& e) {
            throw korvane::TransferError(from + e.what());
        }
    }
    for (int source = 1; source < size; ++source) {
        auto& rows = slots[static_cast<std::size_t>(source)];
        list.insert(list.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
        rows.clear();
    }
}
