// A per-test scratch folder under the test temp dir, removed when the guard goes out of scope.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

namespace korvane::test {

class TempDir {
public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "korvane";
        if (info) name += std::string("_") + info->test_suite_name() + "_" + info->name();
        // Tests of one name may run side by side (two ctest runs over one build); the process id
        // keeps their folders apart.
        name += '_';
        name += std::to_string(getpid());
        for (char& c : name)
            if (c == '/') c = '_';
        path_ = std::filesystem::path(::testing::TempDir()) / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

    // Writes bytes exactly as given (no line-end translation) and returns the full path.
    std::string write(const std::string& name, const std::string& bytes) const {
        const std::string p = file(name);
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }

private:
    std::filesystem::path path_;
};

// While it lives, this process cannot make a file longer than `bytes`: a write past it fails with
// EFBIG, as one on a full disk fails with ENOSPC (the stream's << succeeds, its flush fails).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &previous_);
        previous_signal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previous_signal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previous_signal_)(int) = SIG_DFL;
};

// While it lives, this process can map at most `headroom` bytes beyond what it has mapped now, so
// an allocation that needs more fails with std::bad_alloc. Under AddressSanitizer a failed
// allocation ends the process instead: skip such a test there (korvane::test::kAddressSanitizer).
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(rlim_t headroom) {
        getrlimit(RLIMIT_AS, &previous_);
        rlimit limited = previous_;
        unsigned long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        limited.rlim_cur = std::min<rlim_t>(pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + headroom,
                                            previous_.rlim_max);
        setrlimit(RLIMIT_AS, &limited);
    }
    ~AddressSpaceLimit() { setrlimit(RLIMIT_AS, &previous_); }
    AddressSpaceLimit(const AddressSpaceLimit&) = delete;
    AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;

private:
    rlimit previous_{};
};

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Root of the shared data folder beside the project, or "" when it is absent.
inline std::string shared_data_dir() {
    const std::filesystem::path p = std::filesystem::path(KORVANE_SOURCE_DIR) / ".." / "shared" / "data";
    return std::filesystem::is_directory(p) ? p.lexically_normal().string() : std::string();
}

}  // namespace korvane::test
