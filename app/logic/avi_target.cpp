#include "app/logic/avi_target.h"

#include <cerrno>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace avitarget {

double aviFrameRate(const std::string &frameRateFieldText, double frameRate) {
    if (frameRateFieldText.empty() || !std::isfinite(frameRate) || frameRate <= 0.0) return 30.0;
    return frameRate;
}

std::string aviBaseName(const std::string &fileName, int designatedChannel1Based) {
    if (designatedChannel1Based <= 0) return fileName;
    return fileName + "_CH" + std::to_string(designatedChannel1Based);
}

std::vector<std::string> aviFamily(const std::string &aviPath) {
    return {aviPath, aviPath + ".srt", aviPath + ".index", aviPath + ".tmp", aviPath + ".srt.tmp"};
}

bool pathExists(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

std::string chooseFreeAviPath(const std::string &folder, const std::string &baseName, const ExistsFn &exists,
                              int maxIndex) {
    std::string dir = folder;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    const std::string stem = (dir == "/" ? dir : dir + "/") + baseName;
    for (int i = 1; i <= maxIndex; ++i) {
        const std::string candidate = stem + (i == 1 ? std::string() : "_" + std::to_string(i)) + ".avi";
        bool taken = false;
        for (const std::string &member : aviFamily(candidate)) {
            if (exists(member)) {
                taken = true;
                break;
            }
        }
        if (!taken) return candidate;
    }
    return std::string();
}

namespace {
bool makeFolders(const std::string &folder) {
    // Each missing parent in turn; one that appears meanwhile is fine.
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/') continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}
} // namespace

FolderStatus prepareAviFolder(const std::string &folder, int *err) {
    int dummy = 0;
    int &e = err ? *err : dummy;
    e = 0;
    if (folder.empty()) {
        e = ENOENT;
        return FolderStatus::CannotCreate;
    }
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0) {
        if (!makeFolders(folder) || ::stat(folder.c_str(), &st) != 0) {
            e = errno;
            // A file somewhere along the path makes the folder impossible to make.
            return e == ENOTDIR || e == EEXIST ? FolderStatus::NotAFolder : FolderStatus::CannotCreate;
        }
    }
    if (!S_ISDIR(st.st_mode)) {
        e = ENOTDIR;
        return FolderStatus::NotAFolder;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        e = errno;
        return FolderStatus::NotWritable;
    }
    return FolderStatus::Ready;
}

ConversionFailure failureForErrno(int err) {
    switch (err) {
    case 0:
        return ConversionFailure::None;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ConversionFailure::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return ConversionFailure::FolderNotWritable;
    case ENOTDIR:
        return ConversionFailure::FolderIsFile;
    default:
        return ConversionFailure::WriteError;
    }
}

ConversionFailure failureForFolder(FolderStatus status) {
    switch (status) {
    case FolderStatus::Ready:
        return ConversionFailure::None;
    case FolderStatus::CannotCreate:
        return ConversionFailure::FolderCannotCreate;
    case FolderStatus::NotAFolder:
        return ConversionFailure::FolderIsFile;
    case FolderStatus::NotWritable:
        return ConversionFailure::FolderNotWritable;
    }
    return ConversionFailure::WriteError;
}

ConversionStep conversionStep(ConversionPhase phase, ConversionEvent event, bool playing) {
    using P = ConversionPhase;
    using E = ConversionEvent;
    using A = ConversionAction;
    switch (phase) {
    case P::Idle:
        if (event == E::ConvertButton)
            return playing ? ConversionStep{P::Querying, {A::ShowQuerySheet}}
                           : ConversionStep{P::ChoosingFile, {A::ShowOpenPanel}};
        break;
    case P::Querying:
        if (event == E::QueryYes) return {P::Preparing, {A::ActivateCurrentFile}};
        // What plays goes on playing (and Stop still ends it) until a new file is chosen.
        if (event == E::QueryOtherFile) return {P::ChoosingFile, {A::ShowOpenPanelLater}};
        if (event == E::QueryCancel) return {P::Idle, {}};
        break;
    case P::ChoosingFile:
        if (event == E::FileChosen) return {P::Preparing, {A::ActivateChosenFile}};
        if (event == E::FileCancelled) return {P::Idle, {}};
        break;
    case P::Preparing:
        if (event == E::FolderFailed || event == E::StartFailed) return {P::ShowingResult, {A::ShowFailure}};
        if (event == E::ProbeOneChannel) return {P::Preparing, {A::StartConversion}};
        if (event == E::ProbeSeveralChannels) return {P::WaitingForChannel, {A::ShowChannelPanel}};
        if (event == E::ProbeUnsupported) return {P::Idle, {A::ShowUnsupported}};
        if (event == E::Started) return {P::Converting, {}};
        if (event == E::Stop) return {P::Idle, {A::RestoreWindow}};
        break;
    case P::WaitingForChannel:
        if (event == E::ChannelChosen) return {P::Preparing, {A::CloseChannelPanel, A::StartConversion}};
        // Nothing was started: no builder to stop, no result to show.
        if (event == E::Stop) return {P::Idle, {A::CloseChannelPanel, A::RestoreWindow}};
        break;
    case P::Converting:
        if (event == E::Stop || event == E::WriteFailed) return {P::ShowingResult, {A::FinishConversion}};
        break;
    case P::ShowingResult:
        if (event == E::ResultAnswered) return {P::Idle, {A::RestoreWindow}};
        break;
    }
    return {phase, {}};
}

const char *phaseName(ConversionPhase phase) {
    switch (phase) {
    case ConversionPhase::Idle:
        return "Idle";
    case ConversionPhase::Querying:
        return "Querying";
    case ConversionPhase::ChoosingFile:
        return "ChoosingFile";
    case ConversionPhase::Preparing:
        return "Preparing";
    case ConversionPhase::WaitingForChannel:
        return "WaitingForChannel";
    case ConversionPhase::Converting:
        return "Converting";
    case ConversionPhase::ShowingResult:
        return "ShowingResult";
    }
    return "?";
}

} // namespace avitarget
