// Symbolic typing: a host key that produces a character presses the CPC key
// combination that types the same character, whatever the host layout, adding
// or removing CPC SHIFT as that character needs. Keys that produce no
// character (cursor keys, RETURN, DEL, CONTROL, the keypad, ...) are not this
// file's: the front end sends them through the positional key map.
//
// The character comes from the host (Qt's key text); the table of CPC keys is
// AutoType's. Each host key remembers the CPC key it pressed, so its release
// frees that key even when the modifiers changed in between. CPC SHIFT
// follows the oldest key still waiting to go down, else the newest key held,
// else the host Shift keys.
//
// Timing: the firmware scans the keyboard once a frame and counts a key as
// held until two scans in a row have seen it up, so a key that needs SHIFT
// let go waits three scans after the release (two, and the one that may have
// been under way), and one that needs SHIFT added one scan (the two may
// otherwise land inside one scan). A key waits
// for that in the Waiting state; a release asked for before the key was
// scanned waits until it has been. Scans are counted by the program's reads
// of line 2 (KeyboardState::ShiftLineReads), so waiting follows emulated
// time, pauses included. A character on the CPC key another held character
// already presses (= and - share one) needs that key up and down again: the
// older one lets go of it and the new one waits two scans. SymbolicService applies what has become due: the
// front end calls it after each event and from a short timer while
// SymbolicPending says something waits.
#pragma once

#include <cstdint>

#include "frontend/autotype.h"

struct KeyboardState;

struct SymbolicKeyboard {
  struct HeldKey {
    uint32_t HostKey;
    AutoTypeKey Key;
    bool Down;          // pressed in the matrix (else still waiting)
    bool ReleaseAsked;  // the host key is up; release once scanned
    uint32_t PressedAt; // ShiftLineReads when pressed
    bool TakenOver;     // a newer key needed the same CPC key: holds nothing
  };
  static constexpr int kMaxHeld = 16;
  HeldKey Held[kMaxHeld] = {};
  int HeldCount = 0;
  uint8_t HostShifts = 0;     // bit 0 left Shift, bit 1 right Shift
  bool ShiftDown = false;     // CPC SHIFT as last written here
  uint32_t SettledAt = 0;     // ShiftLineReads from which SHIFT counts as seen
};

// The CPC key (and SHIFT) that types a host character (Unicode); false when
// the CPC has no such character. Besides the CPC's own characters: the up
// arrow types ^ (which the CPC shows as an arrow) and ~, which the CPC lacks,
// types the pound sign for layouts without one.
bool SymbolicKeyFor(char32_t c, AutoTypeKey& key);

// A host key went down producing character c. True when it types (the CPC
// has the character); false leaves everything as it was.
bool SymbolicKeyDown(SymbolicKeyboard& s, KeyboardState& k, uint32_t hostKey, char32_t c);
// A host key went up: true when it was one SymbolicKeyDown took.
bool SymbolicKeyUp(SymbolicKeyboard& s, KeyboardState& k, uint32_t hostKey);
// A host Shift key (0 left, 1 right) went down or up.
void SymbolicShift(SymbolicKeyboard& s, KeyboardState& k, int which, bool down);
// Presses and releases what has waited long enough.
void SymbolicService(SymbolicKeyboard& s, KeyboardState& k);
// True while a press or release waits for the keyboard scan.
bool SymbolicPending(const SymbolicKeyboard& s);
// Forgets every held key and releases what they pressed, SHIFT included.
void SymbolicReleaseAll(SymbolicKeyboard& s, KeyboardState& k);
