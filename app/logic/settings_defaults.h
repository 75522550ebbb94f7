// The user settings of the settings panel: their keys, their defaults and the rules the panel
// applies to what is stored and typed.
#pragma once

#include <optional>
#include <string>

namespace settings_defaults {

extern const char *const kKeyFilePathFieldStringValue;         // the AVI folder
extern const char *const kKeySnapshotFilePathFieldStringValue; // the snapshot folder
extern const char *const kKeyAVIConversionAudioDisabled;       // "0" or "1"

// Not stored: every start begins with these.
constexpr float kDefaultFrameRate = 30.0f;
constexpr float kMaxFrameRate = 60.0f;
constexpr int kDefaultSnapshotTypeIndex = 0; // JPEG

// The documents folder followed by "/Vistrel/AVI/" and "/Vistrel/Snapshot/".
std::string defaultAviFolder(const std::string &documentsFolder);
std::string defaultSnapshotFolder(const std::string &documentsFolder);

// What a folder field shows after start-up: the stored text when there is one, else what the
// field held; an empty result is replaced with the default.
std::string folderAtStart(const std::optional<std::string> &stored, const std::string &fieldText,
                          const std::string &defaultFolder);

// The stored audio switch: the leading integer of the text, absent or not a number reading 0;
// anything but 0 is on.
bool audioDisabledFromStored(const std::optional<std::string> &stored);

// The number at the start of a text, after leading blanks, as a typed frame rate reads; 0 when
// there is none.
double leadingNumber(const std::string &text);

struct FrameRateSetting {
    float frameRate;
    std::string fieldText;
};

// On closing the panel: a frame rate of 60 or more (as held or as typed) becomes exactly 60
// and the field shows "60"; anything else is left as it is.
FrameRateSetting capFrameRate(float frameRate, const std::string &fieldText);

// The frame rate a conversion writes: 30 when the field is empty or the rate is 0.
float aviFrameRate(float frameRate, const std::string &fieldText);

} // namespace settings_defaults
