// A FIFO standing where a reader expects a file, for tests that the reader refuses it unopened.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

namespace korvane::test {

// Makes a FIFO at path and removes it again. A reader that opens it waits for a writer; after
// `patience` a watchdog plays that writer, opening the FIFO and closing it at once, so that such a
// reader reads an empty file and the test fails on what it gets instead of hanging. opened() says
// whether anyone had it open for reading by then.
class Fifo {
public:
    explicit Fifo(std::string path, std::chrono::seconds patience = std::chrono::seconds(10))
        : path_(std::move(path)), made_(mkfifo(path_.c_str(), 0600) == 0), watchdog_([this, patience] {
              const auto deadline = std::chrono::steady_clock::now() + patience;
              while (!stop_ && std::chrono::steady_clock::now() < deadline)
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              // Opening the write end without blocking succeeds only while a reader waits.
              for (; !stop_; std::this_thread::sleep_for(std::chrono::milliseconds(20)))
                  if (const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) {
                      opened_ = true;
                      ::close(fd);
                  }
          }) {}
    ~Fifo() {
        stop_ = true;
        watchdog_.join();
        ::unlink(path_.c_str());
    }
    Fifo(const Fifo&) = delete;
    Fifo& operator=(const Fifo&) = delete;

    bool made() const { return made_; }
    bool opened() const { return opened_; }

private:
    std::string path_;
    bool made_;
    std::atomic<bool> stop_{false}, opened_{false};
    std::thread watchdog_;
};

}  // namespace korvane::test
