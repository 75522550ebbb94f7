#include "app/conversion/avi_conversion.h"
#include "app/logic/player_state.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <cstring>
#include <utility>

#include "app/alerts.h"
#include "app/channel_selection_panel.h"
#include "app/controls/AMIndeterminateProgressIndicatorCell.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/controls/OsdTextLayer.h"
#include "app/main_window.h"
#include "app/panel_fold.h"
#include "avi/ANAVIFrameBuilder.h"
#include "platform/log.h"

using avitarget::ConversionAction;
using avitarget::ConversionEvent;
using avitarget::ConversionFailure;
using avitarget::ConversionPhase;

namespace {

constexpr int kIndicatorIntervalMs = 60000;
constexpr double kConversionWindowHeight = 320.0;

// The recording's name without its extension (a leading dot starts a name, not an extension).
QString recordingName(const QString &path) {
    const QString component = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const int dot = component.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 ? component : component.left(dot);
}

QPixmap image(const QPixmap *pixmap) {
    return pixmap ? *pixmap : QPixmap();
}

std::string localPath(const QString &path) {
    return QFile::encodeName(path).toStdString();
}
QString fromLocalPath(const std::string &path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

} // namespace

AVIConversion::AVIConversion(ConversionHost *host, ConversionWidgets widgets, QObject *parent)
    : QObject(parent), host_(host), w_(std::move(widgets)) {
    if (w_.channelSelectionPanel)
        connect(w_.channelSelectionPanel->ui.channelSelectionOkBtn, &QPushButton::clicked, this,
                [this] { closeChannelSelectionPanel(); });
}

AVIConversion::~AVIConversion() {
    applicationWillTerminate();
}

// ---- Starting -------------------------------------------------------------------------------

void AVIConversion::openPlaybackFileAndConvertToAVI() {
    handle(ConversionEvent::ConvertButton);
}

void AVIConversion::queryFileConversionAlert() {
    QPointer<AVIConversion> self(this);
    sheet(tr("Convert current file to AVI?"), QString(),
          {tr("YES."), tr("NO, select the other file."), tr("Cancel.")}, [self](int code) {
              if (self) self->setQueryFileConversionAlert(code);
          });
}

void AVIConversion::setQueryFileConversionAlert(int returnCode) {
    if (returnCode == 1000)
        handle(ConversionEvent::QueryYes);
    else if (returnCode == 1001)
        handle(ConversionEvent::QueryOtherFile);
    else
        handle(ConversionEvent::QueryCancel);
}

void AVIConversion::openCurrentPlaybackFileAndConvertToAVI() {
    path_ = host_ ? host_->currentFilePath() : QString();
    activateAVIConversion();
}

void AVIConversion::showOpenPanel() {
    if (openPanel_) return;
    QFileDialog *panel = new QFileDialog(w_.window, tr("Open"));
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setOption(QFileDialog::DontUseNativeDialog, true);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    openPanel_ = panel;
    connect(panel, &QFileDialog::fileSelected, this, [this](const QString &path) { convertFile(path); });
    connect(panel, &QFileDialog::rejected, this, [this] { handle(ConversionEvent::FileCancelled); });
    panel->open();
}

void AVIConversion::convertFile(const QString &path) {
    if (phase_ != ConversionPhase::ChoosingFile) return;
    path_ = path;
    handle(ConversionEvent::FileChosen);
}

void AVIConversion::activateAVIConversion() {
    if (host_) {
        host_->setPlayerState(kPlayerStateConverting);
        // Whatever played stops; its teardown also drops any earlier builder.
        host_->stopEngines();
    }
    releaseFileWrapper();
    initFileWrapper();
    if (host_) host_->setConversionFile(path_);
    designatedChannel_ = 0;
    panelAudioChannel_ = 0;
    setAVIFileLocationAndConfig();
    if (lastFailure_ != ConversionFailure::None) {
        handle(ConversionEvent::FolderFailed);
        return;
    }
    setAVIConversionStartingUI();
}

void AVIConversion::initFileWrapper() {
    std::shared_ptr<ANAVIFrameBuilder> b;
    try {
        b = std::make_shared<ANAVIFrameBuilder>();
    } catch (const std::bad_alloc &) {
        player_log("Cannot create the AVI builder\n");
    }
    std::lock_guard<std::mutex> lock(builderMutex_);
    builder_ = std::move(b);
}

void AVIConversion::releaseFileWrapper() {
    std::shared_ptr<ANAVIFrameBuilder> old;
    {
        std::lock_guard<std::mutex> lock(builderMutex_);
        old.swap(builder_);
    }
    // A builder still recording is abandoned here and removes its files.
}

bool AVIConversion::holdsWindow() const {
    switch (phase_) {
    case avitarget::ConversionPhase::Preparing:
    case avitarget::ConversionPhase::WaitingForChannel:
    case avitarget::ConversionPhase::Converting:
    case avitarget::ConversionPhase::ShowingResult:
        return true;
    default:
        return false;
    }
}

// Opening a file tears the engines down, which would abandon the conversion's AVI half-written
// and leave the window locked; the conversion goes on and the file is left for later.
void AVIConversion::refuseOpenWhileConverting(const QString &path) {
    Alert alert;
    alert.messageText = tr("The file was not opened: an AVI conversion is running.");
    alert.informativeText = path;
    alert.buttons = {tr("OK")};
    alert.style = AlertStyle::Warning;
    beginAlertSheet(w_.window, alert);
}

// The result sheet still locks the window, and its answer shrinks the window and restores the
// buttons: a file opened before the answer would be emptied by it.
bool AVIConversion::deferOpenUntilResultAnswered(const QString &path) {
    if (phase_ != ConversionPhase::ShowingResult) return false;
    deferredOpen_ = path;
    return true;
}

void AVIConversion::setBuilderVideoFormat(int vdoFmtIdx) {
    if (std::shared_ptr<ANAVIFrameBuilder> b = builder()) b->setVdoFmtIdx(vdoFmtIdx);
}

std::shared_ptr<ANAVIFrameBuilder> AVIConversion::builder() const {
    std::lock_guard<std::mutex> lock(builderMutex_);
    return builder_;
}

double AVIConversion::fps() const {
    std::shared_ptr<ANAVIFrameBuilder> b = builder();
    return b ? b->fps() : 0.0;
}

void AVIConversion::setAVIFileLocationAndConfig() {
    lastFailure_ = ConversionFailure::None;
    const ConversionSettings settings = host_ ? host_->conversionSettings() : ConversionSettings();
    aviFolder_ = settings.aviFolder;
    int err = 0;
    const avitarget::FolderStatus status = avitarget::prepareAviFolder(localPath(aviFolder_), &err);
    if (status != avitarget::FolderStatus::Ready) {
        player_log("Error: Create folder failed %s (%s)\n", localPath(aviFolder_).c_str(),
                   std::strerror(err));
        fail(avitarget::failureForFolder(status), aviFolder_);
    }
    // The name is chosen when the conversion starts, once the channel is known.
    aviFileLocation_ = aviFolder_ + QLatin1Char('/') + recordingName(path_) + QStringLiteral(".avi");
    if (std::shared_ptr<ANAVIFrameBuilder> b = builder())
        b->setFps(avitarget::aviFrameRate(settings.frameRateText.toStdString(), settings.frameRate));
    isContainAudioData_.store(false);
    audioDisabled_ = settings.audioDisabled;
    copyPCM_.store(false);
}

void AVIConversion::setAVIConversionStartingUI() {
    if (host_) host_->prepareWindowForConversion();
    disablePlaybackButton();
    if (w_.playbackProgressSlider) w_.playbackProgressSlider->setFloatValue(0.0f);
    if (w_.aviProgressLabel) w_.aviProgressLabel->setText(QString());
    if (w_.aviFrameRateLabel) w_.aviFrameRateLabel->setText(QString::asprintf("FPS:%4.2f", fps()));
    if (w_.playbackStatusImageView) w_.playbackStatusImageView->setPixmap(image(w_.aviConvertStatusImg));
    if (w_.window)
        windowSizeWhileAVIConversion_ = QSize(w_.window->minimumWidth(), int(kConversionWindowHeight));
    if (w_.aviConvertingIndicator) w_.aviConvertingIndicator->setVisible(true);

    const int r = host_ ? host_->checkTotalChannelsForAVIConversion() : -1;
    if (r == 1) {
        setWindowHeightTo(windowSizeWhileAVIConversion_);
        handle(ConversionEvent::ProbeOneChannel);
        return;
    }
    if (w_.window) setWindowHeightTo(w_.window->minimumSize());
    if (r == -2) {
        // Refused before anything is written: the result sheet says so.
        fail(ConversionFailure::EngineStart, path_);
        handle(ConversionEvent::StartFailed);
        return;
    }
    handle(r == 0 ? ConversionEvent::ProbeSeveralChannels : ConversionEvent::ProbeUnsupported);
}

void AVIConversion::setWindowHeightTo(const QSize &size) {
    if (!w_.window || !size.isValid()) return;
    const QSize frame(size.width() > 0 ? size.width() : w_.window->width(), size.height());
    // The conversion's own sizes are not refused as a user's resize would be.
    if (auto *main = qobject_cast<MainWindow *>(w_.window))
        main->setFrameSize(frame);
    else
        w_.window->resize(frame);
}

// ---- The channel panel ----------------------------------------------------------------------

void AVIConversion::setChannelSelectionBtnWithVideoChannels(uint32_t videoMask, uint32_t audioMask) {
    if (!w_.channelSelectionPanel) return;
    QComboBox *video = w_.channelSelectionPanel->ui.videoChannelSelectionBtn;
    QComboBox *audio = w_.channelSelectionPanel->ui.audioChannelSelectionBtn;
    video->clear();
    audio->clear();
    for (int c = 1; c <= 16; ++c) {
        if (videoMask & (1u << (c - 1))) video->addItem(QString::number(c));
        if (audioMask & (1u << (c - 1))) audio->addItem(QString::number(c));
    }
}

void AVIConversion::showChannelSelectionPanel() {
    unfoldPanel(w_.channelSelectionPanel, w_.window);
}

void AVIConversion::closeChannelSelectionPanel() {
    if (phase_ != ConversionPhase::WaitingForChannel || !w_.channelSelectionPanel) return;
    designatedChannel_ = w_.channelSelectionPanel->ui.videoChannelSelectionBtn->currentText().toInt();
    panelAudioChannel_ = w_.channelSelectionPanel->ui.audioChannelSelectionBtn->currentText().toInt();
    setWindowHeightTo(windowSizeWhileAVIConversion_);
    handle(ConversionEvent::ChannelChosen);
}

// ---- Running --------------------------------------------------------------------------------

void AVIConversion::doAVIConversionTask() {
    std::shared_ptr<ANAVIFrameBuilder> b = builder();
    if (!b) {
        fail(ConversionFailure::WriteError, aviFolder_);
        handle(ConversionEvent::StartFailed);
        return;
    }
    // Never over an earlier conversion: the first name free of the AVI and its side files.
    const std::string target = avitarget::chooseFreeAviPath(
        localPath(aviFolder_), avitarget::aviBaseName(localPath(recordingName(path_)), designatedChannel_));
    if (target.empty()) {
        fail(ConversionFailure::NoFreeName, aviFolder_);
        handle(ConversionEvent::StartFailed);
        return;
    }
    aviFileLocation_ = fromLocalPath(target);
    b->setMaxRiffSize(maxAviSize);
    // The builder starts before the engine so that the first key frame is not missed.
    const AviResult started = b->startRecordingToFile(target);
    if (started != AviResult::Ok) {
        const int err = b->lastErrno();
        fail(started == AviResult::TargetExists
                 ? ConversionFailure::NoFreeName
                 : (err ? avitarget::failureForErrno(err) : ConversionFailure::WriteError),
             aviFileLocation_);
        releaseFileWrapper();
        handle(ConversionEvent::StartFailed);
        return;
    }
    troubleQueued_.store(false);
    copyPCM_.store(!audioDisabled_);
    converting_.store(true);
    int vdoFmtIdx = -1;
    const bool engineStarted =
        host_ && host_->startEngineForConversion(designatedChannel_, panelAudioChannel_, &vdoFmtIdx);
    if (!engineStarted) {
        converting_.store(false);
        copyPCM_.store(false);
        if (host_) host_->stopEngines();
        // Abandoned: the builder removes what it had begun.
        releaseFileWrapper();
        fail(ConversionFailure::EngineStart, path_);
        handle(ConversionEvent::StartFailed);
        return;
    }
    if (vdoFmtIdx >= 0) b->setVdoFmtIdx(vdoFmtIdx);
    handle(ConversionEvent::Started);
}

int AVIConversion::videoDataWrapping(unsigned channel, const uint8_t *frame, unsigned length, int imageWidth,
                                     int imageHeight, bool isIFrame, unsigned interval,
                                     const _SYSTEMTIME &sysTime) {
    if (!converting_.load()) return 0;
    std::shared_ptr<ANAVIFrameBuilder> b = builder();
    if (!b || length > 0x7FFFFFFFu) return 0;
    if (onVideoTaken) onVideoTaken(channel, frame, length, isIFrame, sysTime);
    const int r =
        b->videoDataWrappingForAVIConversion(reinterpret_cast<const char *>(frame), int(length), imageWidth,
                                             imageHeight, isIFrame, interval, sysTime, channel);
    noteBuilderTrouble(b);
    if (r != 0) {
        queue([this, r] {
            if (w_.playbackStatusImageView && phase_ == ConversionPhase::Converting)
                w_.playbackStatusImageView->setPixmap(r == 1 ? image(w_.aviConvertStatusImg) : QPixmap());
        });
    }
    return r;
}

bool AVIConversion::needCopyPCM() const {
    return converting_.load() && copyPCM_.load();
}

void AVIConversion::audioDataWrapping(const char *pcm, int length, int audioFormat) {
    // A packet that gave no PCM adds nothing (never the previous packet's again).
    if (!needCopyPCM() || !pcm || length <= 0) return;
    std::shared_ptr<ANAVIFrameBuilder> b = builder();
    if (!b) return;
    if (onAudioTaken) onAudioTaken(pcm, length);
    b->audioDataWrappingForAVIConversion(pcm, length, 1, audioFormat);
    noteBuilderTrouble(b);
}

void AVIConversion::noteBuilderTrouble(const std::shared_ptr<ANAVIFrameBuilder> &b) {
    // A builder that takes nothing more (failed write, size limit) ends the conversion now
    // rather than at the end of the recording.
    if ((b->lastErrno() != 0 || b->sizeLimitReached()) && !troubleQueued_.exchange(true))
        queue([this] { handle(ConversionEvent::WriteFailed); });
}

void AVIConversion::setAVCFmtVdoIdxForAVIBuilder(int codec) {
    if (!converting_.load()) return;
    std::shared_ptr<ANAVIFrameBuilder> b = builder();
    if (!b) return;
    b->setVdoFmtIdx(codec == 1 ? 1 : codec == 3 ? 2 : 0);
}

void AVIConversion::upadatePlaybackServerTimeAndProgressForFileConversion(const QString &time,
                                                                          float progress) {
    if (phase_ != ConversionPhase::Converting) return;
    if (w_.serverTimeLabel) w_.serverTimeLabel->setText(time);
    if (!(progress >= 0.0f && progress <= 100.0f)) progress = 0.0f;
    if (w_.aviProgressLabel) w_.aviProgressLabel->setText(QString::asprintf("%3d%%", int(progress)));
}

void AVIConversion::endOfRecording() {
    if (!converting_.exchange(false)) return;
    queue([this] {
        if (w_.aviProgressLabel && phase_ == ConversionPhase::Converting)
            w_.aviProgressLabel->setText(QStringLiteral("100%"));
        finishAVIConversionTask();
    });
}

void AVIConversion::queue(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

// ---- Ending ---------------------------------------------------------------------------------

void AVIConversion::finishAVIConversionTask() {
    handle(ConversionEvent::Stop);
}

void AVIConversion::fail(ConversionFailure failure, const QString &path) {
    lastFailure_ = failure;
    failurePath_ = path;
    failureRemoved_.clear();
}

void AVIConversion::aviConversionFinishedAlert() {
    QPointer<AVIConversion> self(this);
    auto done = [self](int code) {
        if (self) self->setAVIConversionFinishedAlert(code);
    };
    if (lastFailure_ == ConversionFailure::None)
        sheet(tr("AVI Conversion Complete"), QStringLiteral("File directory: %1").arg(aviFileLocation_),
              {tr("OK")}, done);
    else
        showFailureSheet();
}

void AVIConversion::showFailureSheet() {
    QPointer<AVIConversion> self(this);
    sheet(lastFailure_ == ConversionFailure::SizeLimit ? tr("AVI Conversion Incomplete")
                                                       : tr("AVI Conversion Failed"),
          failureText(lastFailure_, failurePath_, failureRemoved_), {tr("OK")}, [self](int code) {
              if (self) self->setAVIConversionFinishedAlert(code);
          });
}

QString AVIConversion::failureText(ConversionFailure failure, const QString &path,
                                   const QStringList &removed) {
    // Only the conversion's own files are ever removed; they are named by the folder they were in.
    QStringList names;
    for (const QString &file : removed)
        names << file.mid(file.lastIndexOf(QLatin1Char('/')) + 1);
    names.sort();
    const QString removedText =
        names.isEmpty()
            ? tr("No file of the conversion was left to remove.")
            : tr("The conversion removed its own files: %1.").arg(names.join(QStringLiteral(", ")));
    switch (failure) {
    case ConversionFailure::None:
        return QString();
    case ConversionFailure::FolderCannotCreate:
        return tr("The AVI folder cannot be created: %1").arg(path);
    case ConversionFailure::FolderIsFile:
        return tr("The AVI folder is a file, not a folder: %1").arg(path);
    case ConversionFailure::FolderNotWritable:
        return tr("The AVI folder cannot be written to: %1").arg(path);
    case ConversionFailure::NoFreeName:
        return tr("No free AVI file name is left in: %1").arg(path);
    case ConversionFailure::DiskFull:
        return tr("The disk is full: the AVI file could not be written and was removed: %1").arg(path);
    case ConversionFailure::SizeLimit:
        return tr("The AVI file reached its size limit of 4 GB; the rest of the recording is not in it: %1")
            .arg(path);
    case ConversionFailure::WriteError:
        return tr("The AVI file could not be written and was removed: %1").arg(path);
    case ConversionFailure::EngineStart:
        return tr("The recording could not be read for conversion: %1").arg(path);
    case ConversionFailure::NothingConverted:
        return tr("Nothing could be converted: no whole video frame was read from %1").arg(path);
    case ConversionFailure::NameTaken:
        return tr("Another file took the name %1 before the conversion could finish; that file was left as "
                  "it is. %2")
            .arg(path, removedText);
    case ConversionFailure::FolderGone:
        return tr("The AVI folder was moved or removed while converting: %1. %2").arg(path, removedText);
    }
    return QString();
}

void AVIConversion::setAVIConversionFinishedAlert(int returnCode) {
    if (returnCode == 1000) handle(ConversionEvent::ResultAnswered);
}

void AVIConversion::upadateUIWhileFinishingFileConversion() {
    aviConversionFinishedAlert();
    if (w_.aviConvertingIndicator) w_.aviConvertingIndicator->setVisible(false);
    if (w_.playbackStatusImageView) w_.playbackStatusImageView->setPixmap(image(w_.stopStatusImg));
    for (QLabel *label : {w_.serverTimeLabel, w_.aviFrameRateLabel, w_.aviProgressLabel, w_.videoModeLabel})
        if (label) label->setText(QString());
    if (w_.osdPercentage) w_.osdPercentage->setString(QStringLiteral("0%"));
    if (w_.playbackProgressSlider) w_.playbackProgressSlider->setFloatValue(0.0f);
}

void AVIConversion::restoreWindow() {
    if (host_) host_->setPlayerState(kPlayerStateIdle);
    releaseFileWrapper();
    if (w_.aviConvertingIndicator) w_.aviConvertingIndicator->setVisible(false);
    if (w_.window) setWindowHeightTo(w_.window->minimumSize());
    revertPlaybackButton();
}

// Ends the engines with the builder held: their teardown drops the application's reference to
// it, and no frame reaches it once they are down.
std::shared_ptr<ANAVIFrameBuilder> AVIConversion::stopEnginesHoldingBuilder() {
    converting_.store(false);
    copyPCM_.store(false);
    std::shared_ptr<ANAVIFrameBuilder> b = builder();
    if (host_) {
        host_->setPlayerState(kPlayerStateIdle);
        host_->stopEngines();
    }
    return b;
}

void AVIConversion::applicationWillTerminate() {
    if (phase_ == ConversionPhase::Converting) {
        std::shared_ptr<ANAVIFrameBuilder> b = stopEnginesHoldingBuilder();
        if (b) {
            const AviResult r = b->stopRecording(isContainAudioData_.load() && !audioDisabled_);
            player_log("AVI conversion ended by quitting: %s\n", aviResultText(r));
        }
        releaseFileWrapper();
    } else if (phase_ == ConversionPhase::WaitingForChannel && w_.channelSelectionPanel) {
        w_.channelSelectionPanel->hide();
    }
    phase_ = ConversionPhase::Idle;
}

// ---- Buttons and the indicator --------------------------------------------------------------

void AVIConversion::disablePlaybackButton() {
    for (QWidget *button : w_.lockedButtons)
        if (button) button->setEnabled(false);
    if (w_.deinterlaceEnableBtn) w_.deinterlaceEnableBtn->setChecked(false);
}

void AVIConversion::revertPlaybackButton() {
    for (QWidget *button : w_.lockedButtons)
        if (button) button->setEnabled(true);
    if (w_.deinterlaceEnableBtn) {
        w_.deinterlaceEnableBtn->setEnabled(false);
        w_.deinterlaceEnableBtn->setChecked(false);
    }
    if (host_) host_->showAndEnableDeinterlace(false);
}

void AVIConversion::initAVIConvertingFakeIndicator() {
    if (indicatorTimer_) return;
    indicatorTimer_ = new QTimer(this);
    indicatorTimer_->setInterval(kIndicatorIntervalMs);
    connect(indicatorTimer_, &QTimer::timeout, this, [this] { animateAVIConvertingIndicator(); });
    indicatorTimer_->start();
}

void AVIConversion::animateAVIConvertingIndicator() {
    ProgressIndicatorControl *indicator = w_.aviConvertingIndicator;
    if (!indicator || indicator->isHidden() || !indicator->cell()) return;
    AMIndeterminateProgressIndicatorCell *cell = indicator->cell();
    double value = cell->doubleValue() + AMIndeterminateProgressIndicatorCell::kStepFraction;
    if (value >= 1.0 - 1e-9) value -= 1.0;
    cell->setDoubleValue(value);
    indicator->update();
}

// ---- The flow -------------------------------------------------------------------------------

void AVIConversion::handle(ConversionEvent event) {
    const bool playing = host_ && host_->playerState() == kPlayerStatePlaying;
    const avitarget::ConversionStep step = avitarget::conversionStep(phase_, event, playing);
    phase_ = step.next;
    for (ConversionAction action : step.actions) {
        switch (action) {
        case ConversionAction::ShowQuerySheet:
            queryFileConversionAlert();
            break;
        case ConversionAction::ShowOpenPanel:
            showOpenPanel();
            break;
        case ConversionAction::ShowOpenPanelLater:
            QTimer::singleShot(otherFileDelayMs, this, [this] {
                if (phase_ == ConversionPhase::ChoosingFile) showOpenPanel();
            });
            break;
        case ConversionAction::ActivateCurrentFile:
            openCurrentPlaybackFileAndConvertToAVI();
            break;
        case ConversionAction::ActivateChosenFile:
            activateAVIConversion();
            break;
        case ConversionAction::ShowChannelPanel:
            showChannelSelectionPanel();
            break;
        case ConversionAction::CloseChannelPanel:
            foldPanel(w_.channelSelectionPanel, w_.window);
            break;
        case ConversionAction::StartConversion:
            doAVIConversionTask();
            break;
        case ConversionAction::FinishConversion: {
            std::shared_ptr<ANAVIFrameBuilder> b = stopEnginesHoldingBuilder();
            if (b) {
                const AviResult r = b->stopRecording(isContainAudioData_.load() && !audioDisabled_);
                if (r == AviResult::Ok)
                    fail(ConversionFailure::None, aviFileLocation_);
                else if (r == AviResult::SizeLimitReached)
                    fail(ConversionFailure::SizeLimit, aviFileLocation_);
                else if (r == AviResult::NoVideo)
                    fail(ConversionFailure::NothingConverted, path_);
                else if (r == AviResult::NameTaken)
                    fail(ConversionFailure::NameTaken, fromLocalPath(b->takenPath()));
                else if (r == AviResult::FolderGone)
                    fail(ConversionFailure::FolderGone, aviFolder_);
                else
                    fail(b->lastErrno() ? avitarget::failureForErrno(b->lastErrno())
                                        : ConversionFailure::WriteError,
                         aviFileLocation_);
                for (const std::string &removed : b->removedFiles())
                    failureRemoved_ << fromLocalPath(removed);
                player_log("AVI conversion of %s ended: %s\n", localPath(aviFileLocation_).c_str(),
                           aviResultText(r));
            }
            releaseFileWrapper();
            // Behind what the engines queued before they stopped (their last progress among it),
            // so that the finished window's texts are the last word.
            queue([this] { upadateUIWhileFinishingFileConversion(); });
            break;
        }
        case ConversionAction::ShowFailure:
            upadateUIWhileFinishingFileConversion();
            break;
        case ConversionAction::ShowUnsupported:
            if (host_) {
                host_->stopEngines();
                host_->setPlayerState(kPlayerStateIdle);
            }
            releaseFileWrapper();
            if (w_.aviConvertingIndicator) w_.aviConvertingIndicator->setVisible(false);
            if (host_) {
                ConversionHost *host = host_;
                QPointer<AVIConversion> self(this);
                queue([self, host] {
                    if (self) host->setUIInCaseOfUnsupportedFileForamt();
                });
            }
            revertPlaybackButton();
            break;
        case ConversionAction::RestoreWindow: {
            restoreWindow();
            // After the window is back, so that the file's start sizes it.
            const QString deferred = std::exchange(deferredOpen_, QString());
            if (!deferred.isEmpty() && openDeferredFile) openDeferredFile(deferred);
            break;
        }
        }
    }
}

// ---- Sheets ---------------------------------------------------------------------------------

void AVIConversion::sheet(const QString &message, const QString &informative, const QStringList &buttons,
                          std::function<void(int)> done) {
    Alert alert;
    alert.messageText = message;
    alert.informativeText = informative;
    alert.buttons = buttons;
    alert.style = AlertStyle::Informational;
    beginAlertSheet(w_.window, alert, std::move(done));
}

ConversionWidgets conversionWidgetsOf(MainWindow &window) {
    Ui::MainWindow &ui = window.ui;
    ConversionWidgets w;
    w.window = &window;
    w.lockedButtons = {
        ui.audioChannelSwitchBtn, ui.videoChannelSwitchBtn, ui.osdEnableBtn,         ui.flipImageBtn,
        ui.fullScreenBtn,         ui.openFileBtn,           ui.configSettingBtn,     ui.aviConversionBtn,
        ui.snapShotBtn,           ui.colorAdjustBtn,        ui.playActionBtn,        ui.pauseActionBtn,
        ui.fastRewindBtn,         ui.fastForwardBtn,        ui.prevFileSelectionBtn, ui.nextFileSelectionBtn};
    w.deinterlaceEnableBtn = ui.deinterlaceEnableBtn;
    w.aviProgressLabel = ui.aviProgressLabel;
    w.aviFrameRateLabel = ui.aviFrameRateLabel;
    w.serverTimeLabel = ui.serverTimeLabel;
    w.videoModeLabel = ui.videoModeLabel;
    w.playbackStatusImageView = ui.playbackStatusImageView;
    w.aviConvertingIndicator = ui.aviConvertingIndicator;
    w.playbackProgressSlider = ui.playbackProgressSlider;
    return w;
}
