#include "engines/wake_narrowing.h"

#include <gtest/gtest.h>

#include <string>

// Each case is a run of events: a narrowed wake reports a quick wait (q), one at the limit (=)
// or a held-up one (S); + and - are the next narrowNextWake() answers expected.
TEST(WakeNarrowing, PausesAfterHeldUpWakesInARowAndTriesAgain) {
    const WakeNarrowingLimits limits{std::chrono::microseconds(200), 3, 4};
    const struct {
        const char *name, *events;
    } cases[] = {
        {"quick wakes keep narrowing", "++qq=q+qq+"},
        {"three held up in a row pause four wakes", "SS+S----+"},
        {"a quick wake restarts the count", "SSqSS+S-"},
        {"after the pause a full run is needed again", "SSS----+S+S+S----+"},
        {"a wake at the limit is not held up", "SS=SS+S-"},
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
                narrowing.woke(std::chrono::microseconds(e == 'q' ? 20 : e == '=' ? 200 : 5000));
        }
    }
}
