// Test helper: opens a recording with the AVC parser and records every callback
// (code, frame number, stream type, key flag, payload MD5, thread), with an
// optional hook that runs inside the callback so tests can act at an exact
// frame, as the engine does.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/mkrec_fixture.h"
#include "common/thread_state.h"
#include "recorderfile/avc_parse.h"

namespace parsetest {

struct Event {
    int code = 0;
    bool hasHeader = false;
    uint32_t frameNo = 0;
    uint8_t streamType = 0;
    uint8_t key = 0;
    uint8_t channel = 0;
    uint32_t length = 0;
    uint16_t width = 0, height = 0;
    std::string md5; // of the bitstream, length bytes
    std::thread::id thread;
    bool returned = false; // the callback, hook included, has returned

    bool isFrame() const { return code >= 0 && code <= 100; }
    bool isIndex() const { return code >= AVC_CODE_INDEX_BASE; }
    bool isTerminal() const {
        return code == 100 || code == AVC_CODE_END_OF_DATA || code == AVC_CODE_FIRST_FRAME;
    }
};

class Session {
  public:
    // Runs inside the callback, after the event has been recorded.
    using Hook = std::function<void(Session &, const Event &)>;

    Session() = default;
    explicit Session(Hook hook) : hook_(std::move(hook)) {}
    ~Session() { close(); }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Callbacks that come before open has returned wait for it in the hook's
    // place, so a hook always acts on the handle.
    int open(const std::string &path) {
        const std::vector<pid_t> before = testutil::threadIds();
        const int handle = avc_parse_open(path.c_str(), &Session::callback, this);
        // The threads the open started (one that has already ended is not among them).
        parserThreads_.clear();
        for (pid_t tid : testutil::threadIds())
            if (std::find(before.begin(), before.end(), tid) == before.end()) parserThreads_.push_back(tid);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            handle_ = handle;
            opened_ = true;
        }
        cv_.notify_all();
        return handle;
    }
    void close() {
        if (handle_) avc_parse_close(handle_);
        handle_ = 0;
    }
    std::vector<Event> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    size_t count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_.size();
    }
    std::vector<Event> frames(size_t from = 0) const {
        std::vector<Event> out;
        const std::vector<Event> all = events();
        for (size_t i = from; i < all.size(); ++i)
            if (all[i].isFrame() || all[i].code == AVC_CODE_FIRST_FRAME) out.push_back(all[i]);
        return out;
    }
    std::vector<int> indexCodes() const {
        std::vector<int> out;
        for (const Event &e : events())
            if (e.isIndex()) out.push_back(e.code);
        return out;
    }

    // Waits until pred holds for the events (10 s at most): false on time-out.
    bool waitUntil(const std::function<bool(const std::vector<Event> &)> &pred, int ms = 10000) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return pred(events_); });
    }
    // Waits for a frame / first-frame / end code among the events from index
    // from on, and for its callback to return, so that what the hook did there
    // (a stop at the end, as the engine does) is done before the test acts.
    bool waitTerminal(size_t from = 0, int ms = 10000) const {
        return waitUntil(
            [from](const std::vector<Event> &ev) {
                for (size_t i = from; i < ev.size(); ++i)
                    if (ev[i].isTerminal() && ev[i].returned) return true;
                return false;
            },
            ms);
    }
    // Likewise for a given code.
    bool waitCode(int code, int ms = 10000) const {
        return waitUntil(
            [code](const std::vector<Event> &ev) {
                for (const Event &e : ev)
                    if (e.code == code && e.returned) return true;
                return false;
            },
            ms);
    }
    // Waits until the reader has finished handling more than `than` records.
    bool waitPasses(long than, int ms = 10000) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            if (avc_parse_passes(handle_) > than) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    long passes() const { return avc_parse_passes(handle_); }
    // Waits until every thread the open started has ended or sleeps (halted, paused, or waiting
    // for the index), seen several times in a row: nothing more comes unless it is told to go on.
    bool waitUntilRests(int ms = 10000) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (int calm = 0; std::chrono::steady_clock::now() < until;) {
            bool resting = true;
            for (pid_t tid : parserThreads_) {
                const char state = testutil::threadState(tid);
                resting = resting && (state == 'S' || state == '?');
            }
            calm = resting ? calm + 1 : 0;
            if (calm >= 5) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    int handle() const { return handle_; }
    void status(int action) { avc_playback_status(handle_, action); }
    int seek(int percent) { return avc_playback_progress(handle_, percent); }

  private:
    static int callback(int code, HEADER_AVC *header, char *bitstream, void *user) {
        auto *s = static_cast<Session *>(user);
        Event e;
        e.code = code;
        e.thread = std::this_thread::get_id();
        if (header) {
            const HEADER_FRAME &f = header->frameHeader;
            e.hasHeader = true;
            e.frameNo = f.dwFrameNo;
            e.streamType = f.byStreamType;
            e.key = f.byIsKeyFrame;
            e.channel = f.byChannel;
            e.length = f.dwLength;
            e.width = f.wWidth;
            e.height = f.wHeight;
            if (bitstream) e.md5 = mkrec::md5Hex(bitstream, f.dwLength);
        }
        Hook hook;
        size_t at = 0;
        {
            std::lock_guard<std::mutex> lock(s->mutex_);
            at = s->events_.size();
            s->events_.push_back(e);
            hook = s->hook_;
        }
        s->cv_.notify_all();
        if (hook) {
            {
                std::unique_lock<std::mutex> lock(s->mutex_);
                s->cv_.wait(lock, [s] { return s->opened_; });
            }
            hook(*s, e);
        }
        {
            std::lock_guard<std::mutex> lock(s->mutex_);
            s->events_[at].returned = true;
        }
        s->cv_.notify_all();
        return 0;
    }

    std::atomic<int> handle_{0};
    std::vector<pid_t> parserThreads_;
    bool opened_ = false;
    Hook hook_;
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    std::vector<Event> events_;
};

// Frame numbers of events (first-frame notices as -(frame number)).
inline std::vector<long> numbers(const std::vector<Event> &events) {
    std::vector<long> out;
    for (const Event &e : events)
        out.push_back(e.code == AVC_CODE_FIRST_FRAME ? -static_cast<long>(e.frameNo)
                                                     : static_cast<long>(e.frameNo));
    return out;
}

inline bool fileExists(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// 1-based numbers of the units whose index entry is a key entry (0x1001 or 0).
inline std::vector<unsigned long> keyEntries(const mkrec::Manifest &m) {
    std::vector<unsigned long> out;
    for (const mkrec::Unit &u : m.units) {
        const unsigned long type = std::strtoul(u.attr("idx_type").c_str(), nullptr, 0);
        if (type == 0x1001 || type == 0) out.push_back(u.index + 1);
    }
    return out;
}

// The last key entry at or below frame number n (1 when there is none).
inline unsigned long lastKeyAtOrBelow(const mkrec::Manifest &m, unsigned long n) {
    unsigned long best = 1;
    for (unsigned long k : keyEntries(m))
        if (k <= n) best = k;
    return best;
}

} // namespace parsetest
