// The File menu's snapshot items: the open and save dialogs around
// LoadSnapshot and SaveSnapshot. The emulation is paused while a dialog (and
// a message about a refused file) is open, so the machine is never changed
// or saved while the emulation thread runs it.
#pragma once

class TMainCPCForm;

void LoadSnapshotClicked(TMainCPCForm& form);
void SaveSnapshotClicked(TMainCPCForm& form);
