#include "frontend/qt/tape_menu.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMenu>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "cli_support.h"
#include "core/machine.h"
#include "frontend/settings.h"
#include "qt_test_app.h"

namespace {

namespace fs = std::filesystem;

// A tape of one pure tone after a text block.
void WriteTape(const fs::path& file) {
  const char bytes[] = "ZXTape!\x1a\x01\x14"
                       "\x30\x05hello"
                       "\x12\x10\x00\x04\x00";
  std::ofstream(file, std::ios::binary).write(bytes, sizeof bytes - 1);
}

struct TapeMenuFixture : testing::Test {
  void SetUp() override {
    dir = fs::temp_directory_path() / ("pellucidore-tape-menu-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    tape = dir / "tone.cdt";
    WriteTape(tape);
    m = CreateMachine({.RomDir = "/nonexistent"});
    settings = DefaultSettings(dir);
    tapes = std::make_unique<TapeMenus>(&window, *m, settings, [&] { ++pauses; }, [&] { ++resumes; },
                                        [&](bool on) { fast = on; });
    tapes->FillMenu(&menu);
    tapes->SetStatusWidgets(&lamp, &counter);
    tapes->Message = [&](const QString& text) { messages << text; };
    tapes->Notice = [&](const QString& text) { notices << text; };
  }
  void TearDown() override { fs::remove_all(dir); }
  QAction* Item(const QString& text) {
    for (QAction* a : menu.actions())
      if (a->text() == text) return a;
    return nullptr;
  }
  QApplication* app = TestApp();  // before any widget member
  fs::path dir, tape;
  std::unique_ptr<Machine> m;
  Settings settings;
  QWidget window;
  QMenu menu;
  TapeLamp lamp{nullptr};
  QLabel counter;
  std::unique_ptr<TapeMenus> tapes;
  QStringList messages, notices;
  int pauses = 0, resumes = 0;
  bool fast = false;
};

TEST_F(TapeMenuFixture, InsertPlayEjectAndTheSettings) {
  for (const char* item : {"Insert Tape...", "Eject", "Play", "Stop", "Rewind", "Record...", "Blocks", "Fast Loading"})
    EXPECT_NE(Item(item), nullptr) << item;
  EXPECT_TRUE(fast) << "FASTTAPE is on by default and handed to the thread";
  EXPECT_EQ(counter.text(), "No tape");

  tapes->ChooseFile = [&] { return QString::fromStdString(tape.string()); };
  Item("Insert Tape...")->trigger();
  ASSERT_TRUE(m->Tape.Image);
  EXPECT_EQ(settings.TAPE, tape.string());
  EXPECT_EQ(counter.text(), "00:00");
  EXPECT_EQ(m->Tape.Image->Blocks[0].Label, "Text: hello");
  Item("Play")->trigger();
  EXPECT_TRUE(m->Tape.Playing.load());
  EXPECT_FALSE(TapeMoving(m->Tape)) << "no motor yet";
  EXPECT_EQ(pauses, resumes);
  EXPECT_GT(pauses, 0);

  Item("Fast Loading")->trigger();
  EXPECT_FALSE(settings.FASTTAPE);
  EXPECT_FALSE(fast);

  Item("Eject")->trigger();
  EXPECT_FALSE(m->Tape.Image);
  EXPECT_EQ(settings.TAPE, "");
  Item("Play")->trigger();
  EXPECT_EQ(messages, QStringList{"There is no tape in the deck."});

  // The tape of the settings comes back at start-up; a vanished one is
  // forgotten quietly.
  settings.TAPE = tape.string();
  tapes->Reinsert();
  EXPECT_TRUE(m->Tape.Image);
  settings.TAPE = (dir / "gone.cdt").string();
  TapeEject(m->Tape);
  tapes->Reinsert();
  EXPECT_FALSE(m->Tape.Image);
  EXPECT_EQ(messages.size(), 1);
}

TEST_F(TapeMenuFixture, ABadFileIsRefusedWithItsReason) {
  std::ofstream(dir / "junk.cdt") << "not a tape";
  tapes->ChooseFile = [&] { return QString::fromStdString((dir / "junk.cdt").string()); };
  Item("Insert Tape...")->trigger();
  EXPECT_FALSE(m->Tape.Image);
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].startsWith("Not a tape image")) << messages[0].toStdString();
}

TEST_F(TapeMenuFixture, RecordingIsWrittenOnStopAndPutInTheDeck) {
  const fs::path out = dir / "saved";
  tapes->ChooseRecordFile = [&] { return QString::fromStdString(out.string()); };
  Item("Record...")->trigger();
  EXPECT_TRUE(m->Tape.Recording.load());
  // The CPC writes: motor on, a few write-line edges.
  PpiWrite(*m, 0xF700, 0x82);
  PpiWrite(*m, 0xF600, 0x10);
  for (int i = 0; i < 10; ++i) {
    for (int us = 0; us < 500; ++us) TapeStep(m->Tape);
    PpiWrite(*m, 0xF700, i % 2 ? 0x0A : 0x0B);
  }
  tapes->Refresh();
  EXPECT_EQ(counter.text(), "REC 00:00");
  Item("Stop")->trigger();
  EXPECT_FALSE(m->Tape.Recording.load());
  ASSERT_TRUE(fs::exists(dir / "saved.cdt"));
  ASSERT_TRUE(m->Tape.Image) << "the recording goes into the deck";
  EXPECT_EQ(m->Tape.Image->Name, "saved.cdt");
  EXPECT_EQ(settings.TAPE, (dir / "saved.cdt").string());
}

}  // namespace
