// The File menu's snapshot items: the open and save dialogs around
// LoadSnapshot and SaveSnapshot, and the quick snapshot slots. The emulation
// is paused while a dialog (and a message about a refused file) is open, and
// while a slot is written or read, so the machine is never changed or saved
// while the emulation thread runs it.
//
// Quick slots: kQuickSlots numbered files per machine profile in the
// snapshot folder, "<profile>-slot<n>.sna", saved with Shift+F5..F8 and
// loaded with Ctrl+F5..F8. (Plain F5..F8 are the capture keys; F2..F8 never
// reach the CPC keyboard, so their Shift and Ctrl forms take nothing from
// it.) The status bar says what was saved or loaded.
#pragma once

#include <filesystem>

class QKeyEvent;
class QMenu;
class MainWindow;
struct Settings;

constexpr int kQuickSlots = 4;

void LoadSnapshotClicked(MainWindow& form);
void SaveSnapshotClicked(MainWindow& form);

// slot: 1..kQuickSlots.
std::filesystem::path QuickSlotPath(const Settings& settings, int slot);
void QuickSaveClicked(MainWindow& form, int slot);
void QuickLoadClicked(MainWindow& form, int slot);
// A quick slot key (Shift or Ctrl with F5..F8) acted on; false for any other
// key, which the caller then routes as before.
bool QuickSnapshotKey(MainWindow& form, const QKeyEvent& event);
// The "Quick Snapshots" submenu.
void AddQuickSnapshotMenu(MainWindow& form, QMenu* file);
