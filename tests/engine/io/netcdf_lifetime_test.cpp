// The netCDF library, on its first open, has libcurl and libcrypto register per-thread clean-up
// code on the calling thread. This program does not link the library, so only the reader keeps it
// loaded: were it unloaded after a read, the reading thread's end would jump into unmapped code
// (a workbench Batch Run reads on a pool thread that ends later).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "engine/io/netcdf_reader.h"
#include "tests/support/temp_dir.h"

namespace {

bool loaded(const char* library) {
    void* handle = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

TEST(NetcdfLibraryLifetime, AReadOnAThreadThatEndsLeavesTheProcessRunning) {
    ASSERT_FALSE(loaded("libnetcdf.so.19")) << "this program must not link the netCDF library";
    const korvane::test::TempDir dir;
    const std::string command = std::string("'") + KORVANE_GENERATE_SAMPLE + "' --output '" + dir.file("s.CDF") +
                                "' --scans 20 --points 50 > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        int rc = -1;
        std::uint32_t scans = 0, points = 0;
        std::thread reader([&] {
            std::vector<std::uint32_t> num, index;
            std::vector<std::int32_t> count;
            std::vector<double> time, tic;
            std::vector<float> mz, intensity;
            rc = necdf_read(dir.str(), "s.CDF", scans, points, num, index, count, time, mz, intensity, tic);
        });
        reader.join();  // the thread's clean-up has run when join returns
        EXPECT_EQ(rc, 1);
        EXPECT_EQ(scans, 20u);
    }
    EXPECT_TRUE(loaded("libnetcdf.so.19"));
}

}  // namespace
