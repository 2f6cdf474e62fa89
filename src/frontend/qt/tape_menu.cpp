#include "frontend/qt/tape_menu.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>

#include "core/machine.h"
#include "frontend/settings.h"

namespace fs = std::filesystem;

TapeLamp::TapeLamp(QWidget* parent) : QWidget(parent), colour_(Qt::darkGray) {
  setFixedWidth(26);
  setToolTip("Tape");
}

void TapeLamp::SetColour(QColor c) {
  if (c == colour_) return;
  colour_ = c;
  update();
}

void TapeLamp::paintEvent(QPaintEvent*) {
  // 18 x 6, like the drive lamps beside it.
  QPainter p(this);
  const int top = std::max(0, (height() - 7) / 2);
  const QRect r(QPoint(4, top), QPoint(22, top + 6));
  p.fillRect(r, colour_);
  p.setPen(Qt::black);
  p.drawRect(r);
}

TapeMenus::TapeMenus(QWidget* window, Machine& m, Settings& s, std::function<void()> pause,
                     std::function<void()> resume, std::function<void(bool)> fastTape)
    : QObject(window),
      window_(window),
      m_(m),
      s_(s),
      pause_(std::move(pause)),
      resume_(std::move(resume)),
      fastTape_(std::move(fastTape)) {
  ChooseFile = [this] {
    return QFileDialog::getOpenFileName(window_, "Insert Tape", QString::fromStdString(s_.TAPEDIR),
                                        "Tape images (*.cdt *.CDT *.tzx *.TZX *.csw *.CSW *.wav *.WAV *.voc *.VOC);;"
                                        "All files (*)");
  };
  ChooseRecordFile = [this] {
    return QFileDialog::getSaveFileName(window_, "Record Tape", QString::fromStdString(s_.TAPEDIR + "recording.cdt"),
                                        "CDT files (*.cdt)");
  };
  Message = [this](const QString& text) { QMessageBox::warning(window_, "Pellucidore", text); };
  Notice = [](const QString&) {};
  if (fastTape_) fastTape_(s_.FASTTAPE);
}

void TapeMenus::Paused(const std::function<void()>& change) {
  pause_();
  change();
  resume_();
  Refresh();
}

void TapeMenus::FillMenu(QMenu* menu) {
  menu->addAction("Insert Tape...", this, [this] { Insert(); });
  menu->addAction("Eject", this, [this] { Eject(); });
  menu->addSeparator();
  menu->addAction("Play", this, [this] { Play(); });
  menu->addAction("Stop", this, [this] { Stop(); });
  menu->addAction("Rewind", this, [this] { Rewind(); });
  menu->addAction("Record...", this, [this] { Record(); });
  menu->addSeparator();
  QMenu* blocks = menu->addMenu("Blocks");
  connect(blocks, &QMenu::aboutToShow, this, [this, blocks] { FillBlocks(blocks); });
  QAction* fast = menu->addAction("Fast Loading");
  fast->setCheckable(true);
  fast->setChecked(s_.FASTTAPE);
  connect(fast, &QAction::triggered, this, [this](bool on) {
    s_.FASTTAPE = on;
    for (QAction* a : fastItems_) a->setChecked(on);
    if (fastTape_) fastTape_(on);
  });
  fastItems_.push_back(fast);
}

void TapeMenus::SetStatusWidgets(TapeLamp* lamp, QLabel* counter) {
  lamp_ = lamp;
  counter_ = counter;
  Refresh();
}

// The blocks with their labels, the one under the head marked; choosing one
// winds the tape to it.
void TapeMenus::FillBlocks(QMenu* menu) {
  menu->clear();
  const auto image = m_.Tape.Image;
  if (!image || image->Blocks.empty()) {
    menu->addAction("(no tape)")->setEnabled(false);
    return;
  }
  const uint32_t current = m_.Tape.CurrentBlock.load();
  // A long tape would make a menu taller than the screen: the blocks around
  // the head are the ones that matter.
  constexpr uint32_t kShown = 40;
  const uint32_t count = static_cast<uint32_t>(image->Blocks.size());
  const uint32_t first = current > kShown / 2 ? std::min(current - kShown / 2, count > kShown ? count - kShown : 0) : 0;
  for (uint32_t i = first; i < count && i < first + kShown; ++i) {
    QAction* a = menu->addAction(QString("%1: %2").arg(i + 1).arg(QString::fromStdString(image->Blocks[i].Label)));
    a->setCheckable(true);
    a->setChecked(i == current);
    connect(a, &QAction::triggered, this, [this, i] {
      Paused([this, i] {
        const bool playing = m_.Tape.Playing.load();
        TapeRewind(m_.Tape);
        m_.Tape.Cursor.Block = i;
        m_.Tape.CurrentBlock.store(i);
        if (playing) TapePlay(m_.Tape);
      });
    });
  }
}

void TapeMenus::Insert() {
  pause_();
  const QString chosen = ChooseFile();
  resume_();
  if (!chosen.isEmpty()) InsertFile(chosen, false);
}

void TapeMenus::InsertFile(const QString& path, bool quiet) {
  FinishRecording();
  TapeLoadResult r = LoadTapeImage(path.toStdString());
  if (!r.Image) {
    if (!quiet) Message(QString::fromStdString(r.Error));
    return;
  }
  if (!quiet && !r.Warnings.empty()) {
    QString text = "The tape is damaged; it plays up to the damage:";
    for (const std::string& w : r.Warnings) text += "\n" + QString::fromStdString(w);
    Message(text);
  }
  Paused([&] { TapeInsert(m_.Tape, std::move(r.Image)); });
  tapePath_ = path.toStdString();
  s_.TAPE = tapePath_;
  Notice("Tape: " + QFileInfo(path).fileName());
}

void TapeMenus::Eject() {
  FinishRecording();
  Paused([this] { TapeEject(m_.Tape); });
  tapePath_.clear();
  s_.TAPE.clear();
}

void TapeMenus::Play() {
  if (!m_.Tape.Image) {
    Message("There is no tape in the deck.");
    return;
  }
  FinishRecording();
  Paused([this] { TapePlay(m_.Tape); });
}

void TapeMenus::Stop() {
  Paused([this] { TapeStop(m_.Tape); });
  FinishRecording();
}

void TapeMenus::Rewind() {
  Paused([this] { TapeRewind(m_.Tape); });
}

void TapeMenus::Record() {
  pause_();
  QString chosen = ChooseRecordFile();
  resume_();
  if (chosen.isEmpty()) return;
  if (QFileInfo(chosen).suffix().isEmpty()) chosen += ".cdt";
  FinishRecording();
  recordPath_ = chosen.toStdString();
  Paused([this] { TapeRecord(m_.Tape); });
  Notice("Recording to " + QFileInfo(chosen).fileName() + ": type SAVE\"NAME\" on the CPC, then Stop");
}

void TapeMenus::FinishRecording() {
  if (recordPath_.empty()) return;
  const std::string path = recordPath_;
  recordPath_.clear();
  std::string error;
  Paused([&] {
    TapeStop(m_.Tape);
    error = WriteRecordedCdt(m_.Tape, path);
  });
  if (!error.empty()) {
    Message(QString::fromStdString(error));
    return;
  }
  // The new tape goes in, rewound, ready for LOAD.
  InsertFile(QString::fromStdString(path), true);
  Notice("Recorded " + QString::fromStdString(fs::path(path).filename().string()));
}

void TapeMenus::Reinsert() {
  if (s_.TAPE.empty()) return;
  std::error_code ec;
  // A tape that has gone is forgotten quietly, as a disk is at start-up.
  if (!fs::is_regular_file(s_.TAPE, ec)) return;
  InsertFile(QString::fromStdString(s_.TAPE), true);
}

void TapeMenus::StoreInSettings() { s_.TAPE = m_.Tape.Image ? tapePath_ : std::string(); }

QString TapeMenus::Counter() const {
  const uint64_t seconds = m_.Tape.Microseconds.load() / 1000000;
  return QString("%1:%2").arg(seconds / 60, 2, 10, QChar('0')).arg(seconds % 60, 2, 10, QChar('0'));
}

void TapeMenus::Refresh() {
  const TapeDeck& d = m_.Tape;
  const bool moving = TapeMoving(d);
  if (lamp_) {
    QColor c = Qt::darkGray;
    if (moving) c = d.Recording.load() ? QColor(255, 0, 0) : QColor(0, 255, 0);
    else if (d.Playing.load() || d.Recording.load()) c = QColor(0, 96, 0);  // pressed, waiting for the motor
    lamp_->SetColour(c);
  }
  if (counter_) {
    QString text = d.Recording.load() ? "REC " : "";
    if (d.Image || d.Recording.load()) text += Counter();
    else text = "No tape";
    counter_->setText(text);
    counter_->setToolTip(d.Image ? QString::fromStdString(d.Image->Name) : QString());
  }
  const uint32_t serial = d.MessageSerial.load();
  if (serial != messagesSeen_) {
    messagesSeen_ = serial;
    // The emulation thread writes the text: read it while the thread is parked.
    pause_();
    const QString text = QString::fromStdString(d.Message);
    resume_();
    Notice(text);
  }
}
