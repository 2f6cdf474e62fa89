#include "frontend/qt/capture_ui.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstring>

#include "core/machine.h"

namespace {

constexpr int kF5 = 0x74, kF6 = 0x75, kF7 = 0x76, kF8 = 0x77;

const char* const kStillFilter = "BMP file (*.bmp);;JPEG file (*.jpg);;GIF file (*.gif);;PNG file (*.png)";
// Filter entries in SAVETYPE order.
constexpr ImageFormat kFilterFormats[4] = {ImageFormat::Bmp, ImageFormat::Jpeg, ImageFormat::Gif, ImageFormat::Png};

QString FromPath(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

// The list is built once: trial-opening every encoder takes a moment.
const std::vector<VideoEncoderChoice>& Encoders() {
  static const std::vector<VideoEncoderChoice> list = UsableVideoEncoders();
  return list;
}

}  // namespace

CodecChooser::CodecChooser(QWidget* parent) : QDialog(parent), encoders_(Encoders()) {
  setWindowTitle("Video Compression");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Compressor:", this));
  list_ = new QListWidget(this);
  for (const VideoEncoderChoice& e : encoders_)
    list_->addItem(QString::fromStdString(e.Description) + "  [" + QString::fromStdString(e.Name) + "]");
  list_->setCurrentRow(0);
  layout->addWidget(list_);
  auto* form = new QFormLayout;
  keyFrames_ = new QSpinBox(this);
  keyFrames_->setRange(0, 1000);
  keyFrames_->setSpecialValueText("encoder default");
  form->addRow("Key frame every (frames):", keyFrames_);
  dataRate_ = new QSpinBox(this);
  dataRate_->setRange(0, 100000);
  dataRate_->setSpecialValueText("encoder default");
  form->addRow("Data rate (KB/s):", dataRate_);
  layout->addLayout(form);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  layout->addWidget(box);
}

AviOptions CodecChooser::Options() const {
  AviOptions o;
  const int row = list_->currentRow();
  if (row >= 0 && row < static_cast<int>(encoders_.size())) o.Encoder = encoders_[row].Name;
  o.KeyFrameEvery = keyFrames_->value();
  o.BitRate = static_cast<int64_t>(dataRate_->value()) * 8000;
  return o;
}

CaptureController::CaptureController(QWidget* window, Machine& machine, Settings& settings,
                                     const CaptureButtons& buttons)
    : QObject(window), window_(window), machine_(machine), settings_(settings), buttons_(buttons) {
  if (buttons_.Avi) aviIcon_ = buttons_.Avi->icon();
  if (buttons_.Wav) wavIcon_ = buttons_.Wav->icon();
  SaveDialog = [this](const QString& title, const QString& file, const QString& filter, int* filterIndex) {
    const QStringList filters = filter.split(";;");
    QString selected = filters.value(*filterIndex);
    const QString chosen = QFileDialog::getSaveFileName(window_, title, file, filter, &selected);
    if (filters.indexOf(selected) >= 0) *filterIndex = filters.indexOf(selected);
    return chosen;
  };
  ChooseCodec = [this]() -> std::optional<AviOptions> {
    CodecChooser chooser(window_);
    if (chooser.exec() != QDialog::Accepted) return std::nullopt;
    return chooser.Options();
  };
}

CaptureController::~CaptureController() { Shutdown(); }

void CaptureController::Shutdown() {
  if (recording_.Active() != Recording::Kind::None) StopRecording();
  series_.Wait();
}

std::string CaptureController::DiskNameA() const {
  const DriveImage& a = machine_.Fdc.Drives[0];
  if (!a.Loaded) return {};
  return a.Source == kSourceZip && !a.ZipMember.empty() ? a.ZipMember : a.DiskPath;
}

void CaptureController::Lock(const std::vector<QToolButton*>& controls) {
  for (QToolButton* b : controls) {
    if (!b) continue;
    locked_.emplace_back(b, b->isEnabled());
    b->setEnabled(false);
  }
}

void CaptureController::Unlock() {
  for (auto it = locked_.rbegin(); it != locked_.rend(); ++it) it->first->setEnabled(it->second);
  locked_.clear();
}

void CaptureController::ScreenshotClicked() {
  // The frame and the disk name are taken with the machine parked, so the
  // still is one whole frame.
  std::vector<uint8_t> frame(static_cast<size_t>(kFrameWidth) * kFrameHeight);
  Suspend();
  std::memcpy(frame.data(), &machine_.Video.FrameBitmap[0][0], frame.size());
  const std::string namePart = StillNamePart(settings_.NAMEBYDSK, DiskNameA());
  Resume();

  StillOptions options{StillFormatFromSaveType(settings_.SAVETYPE), settings_.JPGQUALITY, settings_.SAVEHALFSIZE};
  std::filesystem::path name = StillBaseName(settings_.STILLSDIR, namePart, LocalTimeNow());
  if (settings_.SAVESTILLDIALOG) {
    int index = SaveTypeFromStillFormat(options.Format);
    Suspend();
    const QString chosen = SaveDialog("Save Screenshot", FromPath(name), kStillFilter, &index);
    Resume();
    if (chosen.isEmpty()) return;
    name = chosen.toStdString();
    if (index >= 0 && index < 4) options.Format = kFilterFormats[index];
  }
  const StillResult r = WriteStill(name, frame.data(), options);
  if (!r.Ok) emit CaptureError(QString::fromStdString(r.Error));
  else emit Saved("Screenshot saved to " + FromPath(r.File));
}

void CaptureController::SeriesClicked() {
  if (!EmulationRunning() || !series_.Idle() || recording_.Active() != Recording::Kind::None) return;
  SeriesParams params;
  params.MaxStills = settings_.MAXSTILLS;
  params.EveryFrame = settings_.EVERYFRAME;
  params.Options = {StillFormatFromSaveType(settings_.SAVETYPE), settings_.JPGQUALITY, settings_.SAVEHALFSIZE};
  params.StillsDir = settings_.STILLSDIR;
  Suspend();
  params.NamePart = StillNamePart(settings_.NAMEBYDSK, DiskNameA());
  Resume();
  Lock({buttons_.Series, buttons_.Still, buttons_.Avi, buttons_.Wav});
  const bool started = series_.Start(params, [this](const SeriesResult& result) {
    // From the writer thread: the buttons belong to the window's thread.
    QMetaObject::invokeMethod(
        this,
        [this, result] {
          Unlock();
          if (!result.Error.empty()) emit CaptureError(QString::fromStdString(result.Error));
          emit SeriesWritten(static_cast<int>(result.Files.size()));
          if (!result.Files.empty())
            emit Saved(QString("%1 screenshots saved in %2")
                           .arg(result.Files.size())
                           .arg(FromPath(std::filesystem::path(result.Files.back()).parent_path())));
        },
        Qt::QueuedConnection);
  });
  if (!started) Unlock();
}

void CaptureController::AviClicked() {
  if (recording_.Active() == Recording::Kind::Avi)
    StopRecording();
  else
    StartRecording(Recording::Kind::Avi);
}

void CaptureController::WavClicked() {
  if (recording_.Active() == Recording::Kind::Wav)
    StopRecording();
  else
    StartRecording(Recording::Kind::Wav);
}

void CaptureController::HotKey(int virtualKey) {
  auto enabled = [](QToolButton* b) { return b && b->isEnabled(); };
  switch (virtualKey) {
    case kF5: ScreenshotClicked(); break;
    case kF6: if (enabled(buttons_.Series)) SeriesClicked(); break;
    case kF7: if (enabled(buttons_.Avi)) AviClicked(); break;
    case kF8: if (enabled(buttons_.Wav)) WavClicked(); break;
    default: break;
  }
}

void CaptureController::StartRecording(Recording::Kind kind) {
  const bool avi = kind == Recording::Kind::Avi;
  QToolButton* button = avi ? buttons_.Avi : buttons_.Wav;
  auto buttonUp = [&] {
    if (button) button->setChecked(false);
  };
  if (recording_.Active() != Recording::Kind::None || !series_.Idle()) {
    buttonUp();
    return;
  }
  Suspend();
  std::filesystem::path file = avi ? CaptureFileName(settings_.CAPTUREDIR, "CPCAVI", ".AVI", LocalTimeNow())
                                   : CaptureFileName(settings_.CAPTUREDIR, "CPCWAV", ".WAV", LocalTimeNow());
  bool ok = true;
  if (settings_.VIDEODIALOG) {
    int index = 0;
    const QString chosen = SaveDialog(avi ? "Save AVI as..." : "Save WAV as...", FromPath(file),
                                      avi ? "AVI files (*.avi)" : "WAV files (*.wav)", &index);
    ok = !chosen.isEmpty();
    if (ok) file = chosen.toStdString();
  }
  // The codec is chosen before the file is created, so Cancel leaves none.
  std::optional<AviOptions> codec;
  if (ok && avi) {
    codec = ChooseCodec();
    ok = codec.has_value();
  }
  if (ok) {
    const uint32_t rate = static_cast<uint32_t>(settings_.SAMPLERATE);
    const uint32_t channels = static_cast<uint32_t>(settings_.CHANNELS);
    const uint32_t bits = static_cast<uint32_t>(settings_.BITSPERSAMPLE);
    ok = avi ? recording_.StartAvi(machine_, file, *codec, rate, channels, bits)
             : recording_.StartWav(machine_, file, rate, channels, bits);
  }
  if (ok) {
    recordingFile_ = file;
    if (button) button->setChecked(true);
    blinkOff_ = false;
    Lock(avi ? std::vector<QToolButton*>{buttons_.Still, buttons_.Series, buttons_.Wav, buttons_.Debugger}
             : std::vector<QToolButton*>{buttons_.Still, buttons_.Series, buttons_.Avi, buttons_.Debugger});
  } else {
    // A failed start shows no message: the button staying up says it.
    buttonUp();
  }
  Resume();
}

void CaptureController::StopRecording() {
  const Recording::Kind kind = recording_.Active();
  if (kind == Recording::Kind::None) return;
  Suspend();
  const bool ok = recording_.Stop(machine_);
  Resume();
  QToolButton* button = kind == Recording::Kind::Avi ? buttons_.Avi : buttons_.Wav;
  if (button) {
    button->setChecked(false);
    button->setIcon(kind == Recording::Kind::Avi ? aviIcon_ : wavIcon_);
  }
  blinkOff_ = false;
  Unlock();
  if (!ok) emit CaptureError(QString::fromStdString("The recording was not completed: " + recording_.Error()));
  else emit Saved("Recording saved to " + FromPath(recordingFile_));
}

void CaptureController::TimerTick() {
  const Recording::Kind kind = recording_.Active();
  if (kind == Recording::Kind::None) return;
  if (recording_.Failed()) {
    StopRecording();
    return;
  }
  QToolButton* button = kind == Recording::Kind::Avi ? buttons_.Avi : buttons_.Wav;
  if (!button) return;
  blinkOff_ = !blinkOff_;
  button->setIcon(blinkOff_ ? QIcon() : (kind == Recording::Kind::Avi ? aviIcon_ : wavIcon_));
}

void CaptureController::StillsPeriod(Machine& m) { series_.Period(&m.Video.FrameBitmap[0][0]); }

void CaptureController::CapturePeriod(Machine& m) { recording_.Period(m); }
