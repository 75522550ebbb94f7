// The survey of a landing's place: T, each channel's picture of T inside T's stretch of steady
// time, and the key frames it decodes from, on unit sequences written as recorders write them.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "engines/moment_survey.h"

namespace {

// Units as "channel:ms" words, "k" after a key frame, "|" before the first unit at the place.
// Unit i (0-based) lies at position 10 * (i + 1) and restarts at i.
struct Units {
    std::vector<SurveyUnit> units;
    size_t place = SIZE_MAX;
};

Units parse(const std::string &text) {
    Units out;
    std::istringstream in(text);
    for (std::string w; in >> w;) {
        if (w == "|") {
            out.place = out.units.size();
            continue;
        }
        SurveyUnit u;
        const size_t colon = w.find(':');
        u.channel = std::stoi(w.substr(0, colon));
        u.key = w.back() == 'k';
        u.timeUs = static_cast<uint64_t>(std::stoll(w.substr(colon + 1))) * 1000;
        u.pos = 10 * (out.units.size() + 1);
        u.start = out.units.size();
        out.units.push_back(u);
    }
    return out;
}

// "channel:unit index" words for each present channel's picture and key frame.
std::string describe(const LandingPlan &p, const LandingPositions &at) {
    std::string out;
    for (int c = 0; c < 16; ++c)
        if (p.present & (1u << c))
            out += (out.empty() ? "" : " ") + std::to_string(c) + ":" +
                   std::to_string(static_cast<long long>(at[c] / 10) - 1);
    return out;
}

struct Row {
    const char *what;
    const char *units;
    uint64_t givenMs;
    bool fileEnded;
    uint64_t momentMs;
    const char *pictures; // channel:unit
    const char *keys;     // channel:unit, after the key frames offered backwards
    const char *before;   // key frames offered backwards, "channel:position" (reverse file order)
};

const Row kRows[] = {
    {"the place's moment; a picture of it written just before the place",
     "0:0k 1:0k 0:40 1:40 0:80 | 1:80 0:120 1:120 0:700 1:700", 0, false, 80, "0:4 1:5", "0:0 1:1", ""},
    {"a clock set back after the place: its far side holds no picture",
     "0:5000k 1:5000k 0:5040 | 1:5040 0:2000 1:2000 0:2040", 0, false, 5040, "0:2 1:3", "0:0 1:1", ""},
    {"a clock set back before the place: a key frame on its far side, in file order, is the channel's",
     "0:9000k 1:9000k 0:9040 1:9040 0:6000 | 1:6000 0:6040 1:6040 0:6600", 0, false, 6000, "0:4 1:5",
     "0:0 1:1", ""},
    {"a clock set back by 0.7 s before the place: the frames before it timed like T's are not T's",
     "0:8000k 1:8000k 0:8700 1:8700 0:8000 | 1:8000 0:8040 1:8040 0:8600", 0, false, 8000, "0:4 1:5",
     "0:0 1:1", ""},
    {"a clock set forward 4 h after the place", "0:1000k 1:1000k | 0:1040 0:14401040 1:14401040", 0, false,
     1040, "0:2", "0:0", ""},
    {"one damaged time at the place is passed over",
     "0:1000k 1:1000k | 0:86401000 1:1040 0:1080 1:1080 0:1700", 0, false, 1040, "0:4 1:3", "0:0 1:1", ""},
    {"a channel that stopped has nothing at the place",
     "0:0k 1:0k 2:0k 0:40 1:40 | 0:80 1:80 0:120 1:120 0:700", 0, false, 80, "0:5 1:6", "0:0 1:1", ""},
    {"the end of the file: a channel's last frame a little before T is its picture",
     "0:0k 1:0k 0:40 1:40 0:80 1:60 0:100 |", 0, true, 100, "0:6 1:5", "0:0 1:1", ""},
    {"a moment given: the frames of it before the place", "0:0k 1:0k 0:40 1:40 | 0:80 1:80 0:700", 40, false,
     40, "0:2 1:3", "0:0 1:1", ""},
    {"key frames far back, offered backwards: the latest before the picture",
     "0:14000 1:14000k | 0:14040 1:14040 0:14600", 0, false, 14040, "0:2 1:3", "0:-1 1:1", "0:5 0:3 1:2 0:1"},
};

TEST(MomentSurvey, PicturesAndKeyFramesOfThePlacesMoment) {
    for (const Row &row : kRows) {
        SCOPED_TRACE(row.what);
        const Units u = parse(row.units);
        MomentSurvey survey(0xFFFF, row.givenMs * 1000);
        for (size_t i = 0; i < u.units.size() && !survey.lookDone(); ++i) {
            if (i == u.place) survey.markPlace();
            survey.look(u.units[i]);
        }
        survey.markPlace();
        survey.finishLook(row.fileEnded);
        std::istringstream before(row.before);
        for (std::string w; before >> w;) {
            const size_t colon = w.find(':');
            const uint64_t pos = std::stoull(w.substr(colon + 1));
            survey.keyBefore(std::stoi(w.substr(0, colon)), pos, pos);
        }
        const LandingPlan plan = survey.plan();
        EXPECT_EQ(plan.momentUs, row.momentMs * 1000);
        EXPECT_EQ(describe(plan, plan.pictureAt), row.pictures);
        LandingPositions keys = plan.keyAt;
        // A key frame offered backwards lies before the look: shown as unit -1.
        for (auto &k : keys)
            if (k != 0 && k < 10) k = 0;
        EXPECT_EQ(describe(plan, keys), row.keys);
        EXPECT_EQ(survey.keysWanted(), 0) << "every channel with a picture has a key frame";
    }
}

// A channel with a picture but no key frame within the search shows none; the others restart
// from the earliest key frame.
TEST(MomentSurvey, AChannelWithoutAKeyFrameHasNoPicture) {
    const Units u = parse("0:0k 1:0 0:40 | 1:40 0:80 1:80 0:700");
    MomentSurvey survey(0xFFFF);
    for (size_t i = 0; i < u.units.size(); ++i) {
        if (i == u.place) survey.markPlace();
        survey.look(u.units[i]);
    }
    survey.finishLook(false);
    EXPECT_EQ(survey.keysWanted(), 0x2);
    EXPECT_TRUE(survey.keyBefore(0, 5, 5)) << "channel 0 has its key frame: channel 1 still wants one";
    const LandingPlan plan = survey.plan();
    EXPECT_EQ(plan.present, 0x1);
    EXPECT_EQ(plan.restart, 0u);
}

} // namespace
