#include "engines/wake_narrowing.h"

#include <gtest/gtest.h>

#include <string>

// Each case is a run of events: a narrowed wake reports a quick wait (q), one at the limit (=)
// or a long one (S); + and - are the next narrowNextWake() answers expected.
TEST(WakeNarrowing, PausesAfterHeldUpWakesCloseTogetherAndTriesAgain) {
    // Two held-up wakes at most three wakes apart pause four wakes.
    const WakeNarrowingLimits limits{std::chrono::microseconds(200), 2, 3, 4};
    const struct {
        const char *name, *events;
    } cases[] = {
        {"quick wakes keep narrowing", "++qq=q+qq+"},
        {"two held up close together pause four wakes", "qSqS----+"},
        {"held up wakes far apart do not", "SqqqS+qqqS+"},
        {"a wake at the limit is not held up", "S===S+S-"},
        {"after the pause a new pair is needed", "SS----+S+qqqS+S-"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        WakeNarrowing narrowing(limits);
        const std::string events = c.events;
        for (size_t i = 0; i < events.size(); ++i) {
            const char e = events[i];
            if (e == '+' || e == '-')
                EXPECT_EQ(narrowing.narrowNextWake(), e == '+') << "event " << i;
            else
                narrowing.woke(std::chrono::microseconds(e == 'S' ? 5000 : e == '=' ? 200 : 20));
        }
    }
}
