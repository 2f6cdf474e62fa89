#include "frontend/qt/key_mapper_dialog.h"

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "frontend/qt/main_window.h"
#include "frontend/qt/qt_keys.h"

// The 6128's main block, its cursor and function keypad to the right, and
// the joystick beside that. Names and matrix positions are the keyboard
// matrix's; captions carry the shifted symbol on the upper line.
const std::array<CpcKeyButton, kCpcKeyButtons> kCpcKeyLayout = {{
    // Top row.
    {"ESC", "ESC", 8, 2, 0, 0, 1, 1},
    {"1", "!\n1", 8, 0, 1, 0, 1, 1},
    {"2", "\"\n2", 8, 1, 2, 0, 1, 1},
    {"3", "#\n3", 7, 1, 3, 0, 1, 1},
    {"4", "$\n4", 7, 0, 4, 0, 1, 1},
    {"5", "%\n5", 6, 1, 5, 0, 1, 1},
    {"6", "&&\n6", 6, 0, 6, 0, 1, 1},
    {"7", "'\n7", 5, 1, 7, 0, 1, 1},
    {"8", "(\n8", 5, 0, 8, 0, 1, 1},
    {"9", ")\n9", 4, 1, 9, 0, 1, 1},
    {"0", "_\n0", 4, 0, 10, 0, 1, 1},
    {"_", "=\n-", 3, 1, 11, 0, 1, 1},
    {"^", "\u00A3\n^", 3, 0, 12, 0, 1, 1},
    {"CLR", "CLR", 2, 0, 13, 0, 1, 1},
    {"DEL", "DEL", 9, 7, 14, 0, 1, 1},
    // Q row.
    {"TAB", "TAB", 8, 4, 0, 1, 1.5f, 1},
    {"Q", "Q", 8, 3, 1.5f, 1, 1, 1},
    {"W", "W", 7, 3, 2.5f, 1, 1, 1},
    {"E", "E", 7, 2, 3.5f, 1, 1, 1},
    {"R", "R", 6, 2, 4.5f, 1, 1, 1},
    {"T", "T", 6, 3, 5.5f, 1, 1, 1},
    {"Y", "Y", 5, 3, 6.5f, 1, 1, 1},
    {"U", "U", 5, 2, 7.5f, 1, 1, 1},
    {"I", "I", 4, 3, 8.5f, 1, 1, 1},
    {"O", "O", 4, 2, 9.5f, 1, 1, 1},
    {"P", "P", 3, 3, 10.5f, 1, 1, 1},
    {"|", "|\n@", 3, 2, 11.5f, 1, 1, 1},
    {"[", "{\n[", 2, 1, 12.5f, 1, 1, 1},
    {"RETURN", "RET\nURN", 2, 2, 13.75f, 1, 1.25f, 2},
    // A row.
    {"CAPS LOCK", "CAPS\nLOCK", 8, 6, 0, 2, 1.75f, 1},
    {"A", "A", 8, 5, 1.75f, 2, 1, 1},
    {"S", "S", 7, 4, 2.75f, 2, 1, 1},
    {"D", "D", 7, 5, 3.75f, 2, 1, 1},
    {"F", "F", 6, 5, 4.75f, 2, 1, 1},
    {"G", "G", 6, 4, 5.75f, 2, 1, 1},
    {"H", "H", 5, 4, 6.75f, 2, 1, 1},
    {"J", "J", 5, 5, 7.75f, 2, 1, 1},
    {"K", "K", 4, 5, 8.75f, 2, 1, 1},
    {"L", "L", 4, 4, 9.75f, 2, 1, 1},
    {":", "*\n:", 3, 5, 10.75f, 2, 1, 1},
    {";", "+\n;", 3, 4, 11.75f, 2, 1, 1},
    {"]", "}\n]", 2, 3, 12.75f, 2, 1, 1},
    // Z row.
    {"SHIFT", "SHIFT", 2, 5, 0, 3, 2.25f, 1},
    {"Z", "Z", 8, 7, 2.25f, 3, 1, 1},
    {"X", "X", 7, 7, 3.25f, 3, 1, 1},
    {"C", "C", 7, 6, 4.25f, 3, 1, 1},
    {"V", "V", 6, 7, 5.25f, 3, 1, 1},
    {"B", "B", 6, 6, 6.25f, 3, 1, 1},
    {"N", "N", 5, 6, 7.25f, 3, 1, 1},
    {"M", "M", 4, 6, 8.25f, 3, 1, 1},
    {",", "<\n,", 4, 7, 9.25f, 3, 1, 1},
    {".", ">\n.", 3, 7, 10.25f, 3, 1, 1},
    {"/", "?\n/", 3, 6, 11.25f, 3, 1, 1},
    {"\\", "`\n\\", 2, 6, 12.25f, 3, 1, 1},
    {"SHIFT", "SHIFT", 2, 5, 13.25f, 3, 1.75f, 1},
    // Bottom row.
    {"CONTROL", "CON\nTROL", 2, 7, 0, 4, 2.25f, 1},
    {"COPY", "COPY", 1, 1, 2.25f, 4, 1.5f, 1},
    {"SPACE BAR", "", 5, 7, 3.75f, 4, 8.75f, 1},
    {"ENTER", "ENTER", 0, 6, 12.5f, 4, 2.5f, 1},
    // Function keys and cursor keys.
    {"f7", "f7", 1, 2, 15.5f, 0, 1, 1},
    {"f8", "f8", 1, 3, 16.5f, 0, 1, 1},
    {"f9", "f9", 0, 3, 17.5f, 0, 1, 1},
    {"f4", "f4", 2, 4, 15.5f, 1, 1, 1},
    {"f5", "f5", 1, 4, 16.5f, 1, 1, 1},
    {"f6", "f6", 0, 4, 17.5f, 1, 1, 1},
    {"f1", "f1", 1, 5, 15.5f, 2, 1, 1},
    {"f2", "f2", 1, 6, 16.5f, 2, 1, 1},
    {"f3", "f3", 0, 5, 17.5f, 2, 1, 1},
    {"f0", "f0", 1, 7, 15.5f, 3, 1, 1},
    {"UP", "\u2191", 0, 0, 16.5f, 3, 1, 1},
    {".", ".", 0, 7, 17.5f, 3, 1, 1},
    {"LEFT", "\u2190", 1, 0, 15.5f, 4, 1, 1},
    {"DOWN", "\u2193", 0, 2, 16.5f, 4, 1, 1},
    {"RIGHT", "\u2192", 0, 1, 17.5f, 4, 1, 1},
    // Joystick.
    {"JOYSTICK UP", "J\u2191", 9, 0, 20, 0.5f, 1, 1},
    {"JOYSTICK LEFT", "J\u2190", 9, 2, 19, 1.5f, 1, 1},
    {"JOYSTICK RIGHT", "J\u2192", 9, 3, 21, 1.5f, 1, 1},
    {"JOYSTICK DOWN", "J\u2193", 9, 1, 20, 2.5f, 1, 1},
    {"JOYSTICK FIRE 1", "FIRE\n1", 9, 5, 19, 4, 1, 1},
    {"JOYSTICK FIRE 2", "FIRE\n2", 9, 6, 20, 4, 1, 1},
    {"JOYSTICK FIRE 3", "FIRE\n3", 9, 4, 21, 4, 1, 1},
}};

namespace {
constexpr int kKeyPixels = 30;
}

KeyMapperDialog::KeyMapperDialog(KeyMap& map, std::filesystem::path keyMapFile, QWidget* parent)
    : QDialog(parent), map_(map), file_(std::move(keyMapFile)) {
  setWindowTitle("Keyboard Mapper");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

  auto* keyboard = new QWidget(this);
  keyboard->setFixedSize(22 * kKeyPixels, 5 * kKeyPixels);
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * 0.75);
  for (int i = 0; i < kCpcKeyButtons; ++i) {
    const CpcKeyButton& k = kCpcKeyLayout[i];
    auto* b = new QToolButton(keyboard);
    b->setText(QString::fromUtf8(k.Caption));
    b->setToolTip(QString::fromUtf8(k.Name));
    b->setFont(small);
    b->setFocusPolicy(Qt::NoFocus);  // a selected key must not take the typed one
    b->setGeometry(static_cast<int>(k.X * kKeyPixels), static_cast<int>(k.Y * kKeyPixels),
                   static_cast<int>(k.W * kKeyPixels) - 1, static_cast<int>(k.H * kKeyPixels) - 1);
    connect(b, &QToolButton::clicked, this, [this, i] { SelectCpcKey(i); });
    KeyButtons.push_back(b);
  }

  auto* assignments = new QGroupBox("Assignments", this);
  auto* al = new QVBoxLayout(assignments);
  Label2 = new QLabel("CPC Key: ");
  Label3 = new QLabel("PC Key:");
  al->addWidget(Label2);
  al->addWidget(Label3);

  Button1 = new QPushButton("ASSIGN KEY", this);
  Button2 = new QPushButton("Save KeyMap", this);
  Button3 = new QPushButton("Ok", this);
  for (QPushButton* b : {Button1, Button2, Button3}) {
    b->setAutoDefault(false);
    b->setFocusPolicy(Qt::NoFocus);
  }
  // Nothing to assign to until a CPC key has been chosen.
  Button1->setEnabled(false);
  connect(Button1, &QPushButton::clicked, this, [this] { Arm(true); });
  connect(Button2, &QPushButton::clicked, this, &KeyMapperDialog::SaveClicked);
  connect(Button3, &QPushButton::clicked, this, &QDialog::accept);

  auto* outer = new QVBoxLayout(this);
  outer->addWidget(keyboard);
  ModeLabel = new QLabel;
  ModeLabel->setWordWrap(true);
  outer->addWidget(ModeLabel);
  ShowKeyboardMode(1);
  auto* lower = new QHBoxLayout;
  lower->addWidget(assignments, 1);
  auto* side = new QVBoxLayout;
  side->addWidget(new QLabel("You can assign more than one PC key to a single CPC key."));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  buttons->addWidget(Button3);
  side->addLayout(buttons);
  lower->addLayout(side);
  outer->addLayout(lower);
  setFixedSize(sizeHint());
}

KeyMapperDialog::~KeyMapperDialog() { Arm(false); }

void KeyMapperDialog::SelectCpcKey(int index) {
  if (index < 0 || index >= kCpcKeyButtons) return;
  const CpcKeyButton& k = kCpcKeyLayout[index];
  SelectedLine = k.Line;
  SelectedBit = k.Bit;
  Label2->setText(QString("CPC Key: ") + QString::fromUtf8(k.Name));
  // The highest code mapped to the key is the one left shown.
  for (uint32_t code = 1; code <= kKeyMapEntries; ++code) {
    const KeyMapEntry* e = KeyMapLookup(map_, code);
    if (e && e->Line == k.Line && e->Bit == k.Bit)
      Label3->setText(QString::fromStdString("PC Key: " + KeyName(code)));
  }
  if (!armed_) Button1->setEnabled(true);
}

void KeyMapperDialog::ShowKeyboardMode(int mode) {
  ModeLabel->setText(mode ? "Keyboard: Symbolic (Options menu, Alt+F1). This map serves the keys that type no "
                            "character: cursor keys, RETURN, DEL, COPY, CONTROL, ESC, the keypad; the others "
                            "type the character they show."
                          : "Keyboard: Positional (Options menu, Alt+F1). This map serves every key.");
}

void KeyMapperDialog::KeyMessage(int code) {
  if (!armed_ || SelectedLine < 0) return;
  // Keys with no PC code of their own cannot be stored; wait for another.
  if (code < 1 || code > kKeyMapEntries) return;
  AssignKey(map_, static_cast<uint32_t>(code), static_cast<uint16_t>(SelectedLine), static_cast<uint16_t>(SelectedBit));
  Arm(false);
}

void KeyMapperDialog::Arm(bool on) {
  if (on == armed_) return;
  armed_ = on;
  if (on) {
    Button1->setText("->PRESS A KEY-<");
    Button1->setEnabled(false);
    qApp->installEventFilter(this);
  } else {
    qApp->removeEventFilter(this);
    Button1->setText("ASSIGN KEY");
    Button1->setEnabled(SelectedLine >= 0);
  }
}

bool KeyMapperDialog::eventFilter(QObject* watched, QEvent* event) {
  if (armed_ && event->type() == QEvent::KeyPress) {
    KeyMessage(VirtualKeyFromEvent(static_cast<QKeyEvent*>(event)));
    // Taken here, so that Escape, Return or Space given to a CPC key do not
    // also close the dialog or press one of its buttons.
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void KeyMapperDialog::hideEvent(QHideEvent* event) {
  Arm(false);
  QDialog::hideEvent(event);
}

void KeyMapperDialog::SaveClicked() {
  // A failed write is reported and the table stays as it is in memory.
  if (const KeyMapResult r = SaveKeyMap(map_, file_); !r.Ok)
    QMessageBox::warning(this, "Keyboard Mapper", QString::fromStdString(r.Error));
}

void RunKeyboardMapper(MainWindow& window, KeyMapperDialog& dialog) {
  dialog.ShowKeyboardMode(window.settings().KEYBOARDMODE);
  window.PauseRuleBegin();
  dialog.exec();
  window.PauseRuleEnd();
}
