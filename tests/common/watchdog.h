// Ends the test process when a step hangs: a wait that never returns would otherwise stall the
// run until ctest's timeout, and leave no word of which step it was.
//
//   { testutil::Watchdog dog(5, "open of a FIFO"); thingThatMustNotBlock(); }
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace testutil {

class Watchdog {
  public:
    Watchdog(double seconds, std::string what) : what_(std::move(what)) {
        thread_ = std::thread([this, seconds] {
            std::unique_lock<std::mutex> lock(mutex_);
            const auto limit = std::chrono::duration<double>(seconds);
            if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
                std::fprintf(stderr, "HANG: %s did not return within %.1f s\n", what_.c_str(), seconds);
                std::fflush(stderr);
                std::_Exit(3);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

  private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace testutil
