#include "frontend/symbolic_keys.h"

#include "devices/ppi.h"

namespace {

constexpr uint32_t kShiftLine = 2, kShiftBit = 5;
// Scans a let-go key must stay up before a new press of it, or a press
// read with it up, is taken: the firmware's debounce holds a released key
// for two, and the scan under way when the matrix changed may count as one.
constexpr uint32_t kReleaseScans = 3;

bool SamePosition(const AutoTypeKey& a, const AutoTypeKey& b) { return a.Line == b.Line && a.Bit == b.Bit; }

uint32_t Scans(const KeyboardState& k) { return k.ShiftLineReads.load(std::memory_order_relaxed); }

bool Reached(const KeyboardState& k, uint32_t at) { return static_cast<int32_t>(Scans(k) - at) >= 0; }

bool Waiting(const SymbolicKeyboard::HeldKey& h) { return !h.Down && !h.TakenOver; }

int FirstWaiting(const SymbolicKeyboard& s) {
  for (int i = 0; i < s.HeldCount; ++i)
    if (Waiting(s.Held[i])) return i;
  return -1;
}

// The entry other than `except` that holds a matrix position, or -1.
int Holder(const SymbolicKeyboard& s, const AutoTypeKey& key, int except) {
  for (int j = 0; j < s.HeldCount; ++j)
    if (j != except && s.Held[j].Down && SamePosition(s.Held[j].Key, key)) return j;
  return -1;
}

void UpdateShift(SymbolicKeyboard& s, KeyboardState& k) {
  const int waiting = FirstWaiting(s);
  const bool shift = waiting >= 0      ? s.Held[waiting].Key.Shift
                     : s.HeldCount > 0 ? s.Held[s.HeldCount - 1].Key.Shift
                                       : s.HostShifts != 0;
  if (shift == s.ShiftDown) return;
  s.ShiftDown = shift;
  // A press is seen at the next scan; a release only after three.
  s.SettledAt = Scans(k) + (shift ? 1 : kReleaseScans);
  if (shift) MatrixPress(k, kShiftLine, kShiftBit);
  else MatrixRelease(k, kShiftLine, kShiftBit);
}

// Drops entry i; its matrix key is released unless another pressed key
// shares it.
void Forget(SymbolicKeyboard& s, KeyboardState& k, int i) {
  const SymbolicKeyboard::HeldKey gone = s.Held[i];
  for (int j = i + 1; j < s.HeldCount; ++j) s.Held[j - 1] = s.Held[j];
  --s.HeldCount;
  if (!gone.Down || Holder(s, gone.Key, -1) >= 0) return;
  MatrixRelease(k, gone.Key.Line, gone.Key.Bit);
}

int Find(const SymbolicKeyboard& s, uint32_t hostKey) {
  for (int i = 0; i < s.HeldCount; ++i)
    if (s.Held[i].HostKey == hostKey) return i;
  return -1;
}

}  // namespace

bool SymbolicKeyFor(char32_t c, AutoTypeKey& key) {
  if (c == U'\u2191') c = '^';
  if (c == '~') c = 0xA3;
  // Control characters (RETURN, TAB, ESC, CONTROL combinations) and DEL are
  // keys, not characters: they go by position.
  if (c < 0x20 || c == 0x7F || c > 0xFF) return false;
  return CpcKeyForCharacter(static_cast<uint8_t>(c), key);
}

bool SymbolicKeyDown(SymbolicKeyboard& s, KeyboardState& k, uint32_t hostKey, char32_t c) {
  AutoTypeKey key;
  if (!SymbolicKeyFor(c, key)) return false;
  // A press without its release (lost to another window) is replaced.
  if (int i = Find(s, hostKey); i >= 0) Forget(s, k, i);
  if (s.HeldCount == SymbolicKeyboard::kMaxHeld) Forget(s, k, 0);
  s.Held[s.HeldCount++] = {hostKey, key, false, false, 0, false};
  SymbolicService(s, k);
  return true;
}

bool SymbolicKeyUp(SymbolicKeyboard& s, KeyboardState& k, uint32_t hostKey) {
  const int i = Find(s, hostKey);
  if (i < 0) return false;
  s.Held[i].ReleaseAsked = true;
  SymbolicService(s, k);
  return true;
}

void SymbolicShift(SymbolicKeyboard& s, KeyboardState& k, int which, bool down) {
  const uint8_t bit = static_cast<uint8_t>(1u << (which & 1));
  if (down) s.HostShifts |= bit;
  else s.HostShifts &= static_cast<uint8_t>(~bit);
  SymbolicService(s, k);
}

void SymbolicService(SymbolicKeyboard& s, KeyboardState& k) {
  for (bool changed = true; changed;) {
    changed = false;
    // Releases of keys the firmware has seen down.
    for (int i = 0; i < s.HeldCount; ++i) {
      const SymbolicKeyboard::HeldKey& h = s.Held[i];
      if (h.ReleaseAsked && (h.TakenOver || (h.Down && Reached(k, h.PressedAt + 1)))) {
        Forget(s, k, i);
        changed = true;
        break;
      }
    }
    UpdateShift(s, k);
    // The oldest waiting key goes down once SHIFT is as it needs and seen so.
    const int waiting = FirstWaiting(s);
    if (waiting < 0) break;
    if (const int holder = Holder(s, s.Held[waiting].Key, waiting); holder >= 0) {
      s.Held[holder].Down = false;
      s.Held[holder].TakenOver = true;
      MatrixRelease(k, s.Held[holder].Key.Line, s.Held[holder].Key.Bit);
      s.SettledAt = Scans(k) + kReleaseScans;
    }
    if (s.ShiftDown == s.Held[waiting].Key.Shift && Reached(k, s.SettledAt)) {
      SymbolicKeyboard::HeldKey& h = s.Held[waiting];
      h.Down = true;
      h.PressedAt = Scans(k);
      MatrixPress(k, h.Key.Line, h.Key.Bit);
      changed = true;
    }
  }
}

bool SymbolicPending(const SymbolicKeyboard& s) {
  for (int i = 0; i < s.HeldCount; ++i)
    if (Waiting(s.Held[i]) || s.Held[i].ReleaseAsked) return true;
  return false;
}

void SymbolicReleaseAll(SymbolicKeyboard& s, KeyboardState& k) {
  while (s.HeldCount > 0) {
    s.Held[s.HeldCount - 1].ReleaseAsked = true;
    Forget(s, k, s.HeldCount - 1);
  }
  s.HostShifts = 0;
  s.ShiftDown = false;
  MatrixRelease(k, kShiftLine, kShiftBit);
}
