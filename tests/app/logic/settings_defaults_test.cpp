// The settings' defaults, what a stored or empty value turns into, and the frame-rate cap.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/logic/settings_defaults.h"

namespace sd = settings_defaults;

namespace {

TEST(SettingsDefaults, FoldersUnderTheDocumentsFolder) {
    struct Case {
        std::string documents, avi, snapshot;
    } cases[] = {
        {"/home/u/Documents", "/home/u/Documents/Vistrel/AVI/", "/home/u/Documents/Vistrel/Snapshot/"},
        {"/home/u/Documents/", "/home/u/Documents/Vistrel/AVI/", "/home/u/Documents/Vistrel/Snapshot/"},
        {"/", "/Vistrel/AVI/", "/Vistrel/Snapshot/"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(sd::defaultAviFolder(c.documents), c.avi);
        EXPECT_EQ(sd::defaultSnapshotFolder(c.documents), c.snapshot);
    }
}

TEST(SettingsDefaults, StoredEmptyAndAbsentFolders) {
    const std::string def = "/d/Vistrel/AVI/";
    struct Case {
        std::optional<std::string> stored;
        std::string field, expected;
    } cases[] = {
        {std::nullopt, "", def},      // first start
        {std::string(""), "", def},   // stored empty: the default, as if absent
        {std::string(""), "/x", def}, // stored empty replaces the field's text
        {std::nullopt, "/x", "/x"},   // absent: the field keeps its text
        {std::string("/media/usb/avi"), "", "/media/usb/avi"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(sd::folderAtStart(c.stored, c.field, def), c.expected);
}

TEST(SettingsDefaults, AudioSwitchFromStoredText) {
    struct Case {
        std::optional<std::string> stored;
        bool expected;
    } cases[] = {{std::nullopt, false},     {std::string(""), false},    {std::string("0"), false},
                 {std::string("1"), true},  {std::string(" 1"), true},   {std::string("true"), false},
                 {std::string("-1"), true}, {std::string("10abc"), true}};
    for (const Case &c : cases)
        EXPECT_EQ(sd::audioDisabledFromStored(c.stored), c.expected) << c.stored.value_or("<none>");
}

TEST(SettingsDefaults, FrameRateCapAndConversionRate) {
    struct Case {
        float rate;
        std::string field;
        float cappedRate;
        std::string cappedField;
        float aviRate; // what a conversion writes after the cap
    } cases[] = {
        {30, "30", 30, "30", 30},     {75, "75", 60, "60", 60},
        {60, "60", 60, "60", 60},     {59.5f, "59.5", 59.5f, "59.5", 59.5f},
        {30, "75", 60, "60", 60},                         // typed but not yet taken into the rate
        {75, "", 60, "60", 60},       {0, "", 0, "", 30}, // empty field: 30
        {0, "abc", 0, "abc", 30},                         // not a number: rate 0, 30
        {25, " 61fps", 60, "60", 60}, {12.5f, "12,5", 12.5f, "12,5", 12.5f},
    };
    for (const Case &c : cases) {
        const sd::FrameRateSetting capped = sd::capFrameRate(c.rate, c.field);
        EXPECT_EQ(capped.frameRate, c.cappedRate) << c.field;
        EXPECT_EQ(capped.fieldText, c.cappedField) << c.field;
        EXPECT_EQ(sd::aviFrameRate(capped.frameRate, capped.fieldText), c.aviRate) << c.field;
    }
    EXPECT_DOUBLE_EQ(sd::leadingNumber("  59.5x"), 59.5);
    EXPECT_DOUBLE_EQ(sd::leadingNumber("-3"), -3.0);
    EXPECT_DOUBLE_EQ(sd::leadingNumber("x3"), 0.0);
}

} // namespace
