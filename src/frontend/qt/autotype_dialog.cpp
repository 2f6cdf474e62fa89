#include "frontend/qt/autotype_dialog.h"

#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QTimer>
#include <QVBoxLayout>

QString WithTxtExtension(const QString& chosen) {
  return chosen.contains(QLatin1String(".txt"), Qt::CaseSensitive) ? chosen : chosen + ".txt";
}

std::string AutoTypeBytes(const QString& text) {
  std::string bytes;
  bytes.reserve(static_cast<size_t>(text.size()));
  for (QChar c : text) bytes += c.unicode() < 256 ? static_cast<char>(c.unicode()) : ' ';
  return bytes;
}

AutoTypeDialog::AutoTypeDialog(AutoTypeState& state, QTimer& timer, std::filesystem::path startDir, QWidget* parent)
    : QDialog(parent), state_(state), timer_(timer), startDir_(std::move(startDir)) {
  setWindowTitle("AutoType Utility");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setModal(false);
  setFixedSize(368, 317);

  Memo1 = new QPlainTextEdit(this);
  QFont courier("Courier New");
  courier.setStyleHint(QFont::TypeWriter);
  courier.setFixedPitch(true);
  Memo1->setFont(courier);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  auto button = [this](const char* text) {
    auto* b = new QPushButton(text, this);
    b->setAutoDefault(false);
    return b;
  };
  LoadButton = button("Load");
  SaveButton = button("Save");
  AutoTypeButton = button("AutoType");
  StopButton = button("Stop");
  CloseButton = button("Close");
  connect(LoadButton, &QPushButton::clicked, this, &AutoTypeDialog::LoadClicked);
  connect(SaveButton, &QPushButton::clicked, this, &AutoTypeDialog::SaveClicked);
  connect(AutoTypeButton, &QPushButton::clicked, this, &AutoTypeDialog::StartClicked);
  connect(StopButton, &QPushButton::clicked, this, &AutoTypeDialog::StopClicked);
  connect(CloseButton, &QPushButton::clicked, this, &QWidget::hide);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Memo1, 1);
  auto* row = new QHBoxLayout;
  for (QPushButton* b : {LoadButton, SaveButton, AutoTypeButton, StopButton, CloseButton}) row->addWidget(b);
  layout->addLayout(row);

  OpenDialog = [](QWidget* parent, const QString& dir) {
    return QFileDialog::getOpenFileName(parent, "Load a Text File", dir, "TXT files (*.txt)");
  };
  // The platform dialog asks before overwriting.
  SaveDialog = [](QWidget* parent, const QString& dir) {
    return QFileDialog::getSaveFileName(parent, "Save as Text File", dir, "TXT files (*.txt)");
  };
}

void AutoTypeDialog::StartClicked() {
  if (Keyboard) AutoTypeDropShiftAhead(state_, *Keyboard);
  if (StartAutoType(state_, AutoTypeTextFromLines(AutoTypeBytes(Memo1->toPlainText())))) {
    // A first capital gets its SHIFT a tick ahead too.
    if (Keyboard) AutoTypeShiftAhead(state_, *Keyboard);
    timer_.start();
  }
}

void AutoTypeDialog::StopClicked() {
  timer_.stop();
  if (Keyboard) AutoTypeReleaseKeys(state_, *Keyboard);
  StopAutoType(state_);
}

void AutoTypeDialog::LoadClicked() {
  const QString chosen = OpenDialog(this, QString::fromStdString(startDir_.string()));
  if (!chosen.isEmpty()) LoadText(chosen);
}

void AutoTypeDialog::SaveClicked() {
  const QString chosen = SaveDialog(this, QString::fromStdString(startDir_.string()));
  if (!chosen.isEmpty()) SaveText(chosen);
}

bool AutoTypeDialog::LoadText(const QString& chosen) {
  const QString name = WithTxtExtension(chosen);
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly)) {
    // Reported, and the editor keeps what it had.
    QMessageBox::warning(this, "AutoType Utility", QString("Cannot open file \"%1\". %2").arg(name, file.errorString()));
    return false;
  }
  const QByteArray bytes = file.readAll();
  // Text files here are mostly UTF-8; ones written on Windows are in its
  // single-byte code page, taken as Latin-1 like the typing table.
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8.decode(bytes);
  if (utf8.hasError()) text = QString::fromLatin1(bytes);
  text.replace("\r\n", "\n");
  text.replace('\r', '\n');
  if (text.endsWith('\n')) text.chop(1);  // the last line's end, not an empty line after it
  Memo1->setPlainText(text);
  return true;
}

bool AutoTypeDialog::SaveText(const QString& chosen) {
  const QString name = WithTxtExtension(chosen);
  QFile file(name);
  // Single-byte text: the typing table goes by Latin-1 character code, and
  // a file saved here must load back to the same characters.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(Memo1->toPlainText().toLatin1() + "\n") < 0) {
    QMessageBox::warning(this, "AutoType Utility", QString("Cannot create file \"%1\". %2").arg(name, file.errorString()));
    return false;
  }
  return true;
}
