// Where a conversion writes its AVI file, and the steps of the conversion flow.
//
// Qt-free: the conversion feature feeds it what the user did and what the engines and the
// file system answered, and carries out the actions it returns.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace avitarget {

// The frame rate shown for a conversion: the settings' rate, or 30 when the field is empty
// or the rate is not a positive number.
double aviFrameRate(const std::string &frameRateFieldText, double frameRate);

// "name" for a whole recording, "name_CHn" for channel n (1-based) chosen on the panel.
std::string aviBaseName(const std::string &fileName, int designatedChannel1Based);

// The AVI file and the names beside it that make its name taken: the builder writes none of
// them but the AVI file and its ".srt", and refuses a name where anything is at one of them.
std::vector<std::string> aviFamily(const std::string &aviPath);

using ExistsFn = std::function<bool(const std::string &path)>;
// Anything at the path, a dangling link included.
bool pathExists(const std::string &path);

// "folder/base.avi", else "folder/base_2.avi", "folder/base_3.avi", ...: the first name for
// which none of the AVI and its side files exists, so that no earlier conversion is ever
// overwritten. Empty when every name up to maxIndex is taken.
std::string chooseFreeAviPath(const std::string &folder, const std::string &baseName,
                              const ExistsFn &exists = pathExists, int maxIndex = 9999);

enum class FolderStatus {
    Ready,
    CannotCreate, // missing, and making it failed
    NotAFolder,   // something that is not a folder is at the path
    NotWritable,  // a folder, but files cannot be made in it
};

// Makes the folder (with its parents) when missing, then checks that files can be made in it.
// *err receives the errno behind a failure.
FolderStatus prepareAviFolder(const std::string &folder, int *err = nullptr);

// Why a conversion ended without a complete file.
enum class ConversionFailure {
    None,
    FolderCannotCreate,
    FolderIsFile,
    FolderNotWritable,
    NoFreeName,
    DiskFull,
    SizeLimit, // the file is complete up to the AVI size limit; what came later is not in it
    WriteError,
    EngineStart,
    NothingConverted, // the conversion ended without a whole video frame; no file is left
    NameTaken,        // another file took the AVI file's name (or its subtitles') meanwhile
    FolderGone,       // the AVI folder was moved away or removed while converting
};

// A write error by its errno: full disk (ENOSPC, EDQUOT, EFBIG), an unwritable folder
// (EACCES, EPERM, EROFS), anything else a plain write error.
ConversionFailure failureForErrno(int err);
ConversionFailure failureForFolder(FolderStatus status);

// ---- The flow ----------------------------------------------------------------------------

enum class ConversionPhase {
    Idle,              // no conversion (a file may be playing)
    Querying,          // the "Convert current file to AVI?" sheet is up
    ChoosingFile,      // the open panel is up (or about to be)
    Preparing,         // activated: the folder, the probe and the start are under way
    WaitingForChannel, // the channel panel is up; nothing runs yet
    Converting,        // engine and builder running
    ShowingResult,     // the completion or failure sheet is up; buttons stay locked
};

enum class ConversionEvent {
    ConvertButton,  // with `playing`
    QueryYes,       // 1000
    QueryOtherFile, // 1001
    QueryCancel,    // 1002 or anything else
    FileChosen,
    FileCancelled,
    FolderFailed,    // the AVI folder cannot be used
    ProbeOneChannel, // convert at once
    ProbeSeveralChannels,
    ProbeUnsupported,
    ChannelChosen,
    Started,     // builder and engine running
    StartFailed, // builder or engine could not start
    Stop,        // the user's Stop, or the end of the recording
    WriteFailed, // the builder stopped taking data
    ResultAnswered,
};

enum class ConversionAction {
    ShowQuerySheet,
    ShowOpenPanel,       // at once
    ShowOpenPanelLater,  // after half a second
    ActivateCurrentFile, // stop what plays, configure, converting UI, probe
    ActivateChosenFile,
    ShowChannelPanel,
    CloseChannelPanel,
    StartConversion,  // name, builder, engine
    FinishConversion, // stop engines, finish the builder, then show its result
    ShowFailure,      // sheet naming the cause; nothing was written
    ShowUnsupported,  // "Unsupported format!": engines down, player idle
    RestoreWindow,    // minimum size, buttons back, indicator hidden, player idle
};

struct ConversionStep {
    ConversionPhase next;
    std::vector<ConversionAction> actions;
};

// What an event does in a phase. Events that do not belong to the phase change nothing.
ConversionStep conversionStep(ConversionPhase phase, ConversionEvent event, bool playing = false);

const char *phaseName(ConversionPhase phase);

} // namespace avitarget
