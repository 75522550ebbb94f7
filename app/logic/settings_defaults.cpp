#include "app/logic/settings_defaults.h"

#include <cctype>

namespace settings_defaults {

const char *const kKeyFilePathFieldStringValue = "keyFilePathFieldStringValue";
const char *const kKeySnapshotFilePathFieldStringValue = "keySnapshotFilePathFieldStringValue";
const char *const kKeyAVIConversionAudioDisabled = "keyAVIConversionAudioDisabled";

namespace {
std::string underDocuments(std::string documents, const char *tail) {
    while (documents.size() > 1 && documents.back() == '/')
        documents.pop_back();
    if (documents == "/") documents.clear();
    return documents + tail;
}

size_t skipBlanks(const std::string &text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    return i;
}
} // namespace

std::string defaultAviFolder(const std::string &documentsFolder) {
    return underDocuments(documentsFolder, "/Vistrel/AVI/");
}

std::string defaultSnapshotFolder(const std::string &documentsFolder) {
    return underDocuments(documentsFolder, "/Vistrel/Snapshot/");
}

std::string folderAtStart(const std::optional<std::string> &stored, const std::string &fieldText,
                          const std::string &defaultFolder) {
    const std::string text = stored ? *stored : fieldText;
    return text.empty() ? defaultFolder : text;
}

bool audioDisabledFromStored(const std::optional<std::string> &stored) {
    if (!stored) return false;
    const std::string &text = *stored;
    size_t i = skipBlanks(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && value < 1000000000LL)
        value = value * 10 + (text[i++] - '0');
    return (negative ? -value : value) != 0;
}

double leadingNumber(const std::string &text) {
    // Read by hand with "." as the decimal point, whatever the locale.
    size_t i = skipBlanks(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    double value = 0.0, scale = 1.0;
    bool fraction = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !fraction) {
            fraction = true;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            if (fraction)
                value += (c - '0') * (scale /= 10.0);
            else
                value = value * 10.0 + (c - '0');
        } else {
            break;
        }
    }
    return negative ? -value : value;
}

FrameRateSetting capFrameRate(float frameRate, const std::string &fieldText) {
    if (frameRate >= kMaxFrameRate || leadingNumber(fieldText) >= kMaxFrameRate) return {kMaxFrameRate, "60"};
    return {frameRate, fieldText};
}

float aviFrameRate(float frameRate, const std::string &fieldText) {
    if (fieldText.empty() || frameRate == 0.0f) return kDefaultFrameRate;
    return frameRate;
}

} // namespace settings_defaults
