// libFuzzer target for AutoType text: the input is an editor text (lines of
// any ending, any bytes); a second text, after the first NUL byte, replaces it
// halfway through typing. Typing must end within two steps per character
// plus one, press only matrix lines 0..9, and leave no key held at the end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "devices/ppi.h"
#include "frontend/autotype.h"

namespace autotypefuzz {

bool AllReleased(const KeyboardState& k) {
  for (uint32_t line = 0; line < 16; ++line)
    if (KeyboardLine(k, line) != 0xFF) return false;
  return true;
}

bool AutoTypeFuzzInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string_view first = input.substr(0, nul);
  const std::string_view second = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  // The same conversion written another way: every line ending ("\r\n",
  // "\r" or "\n") and an unterminated last line give one CR LF.
  const std::string text = AutoTypeTextFromLines(first);
  std::string expected;
  for (size_t i = 0; i < first.size(); ++i) {
    if (first[i] == '\r' || first[i] == '\n') {
      if (first[i] == '\r' && i + 1 < first.size() && first[i + 1] == '\n') ++i;
      expected += "\r\n";
    } else {
      expected += first[i];
    }
  }
  if (!first.empty() && first.back() != '\r' && first.back() != '\n') expected += "\r\n";
  if (text != expected) return false;

  KeyboardState k;
  KeyboardReset(k);
  AutoTypeState s;
  if (StartAutoType(s, text) == text.empty()) return false;
  // Two steps per character; the last release returns false.
  const uint64_t alone = text.empty() ? 0 : 2 * text.size() - 1;
  const uint64_t limit = alone + 2 * (second.size() * 2 + 2);
  bool replaced = false;
  uint64_t steps = 0;
  while (AutoTypeStep(s, k)) {
    if (++steps > limit) return false;
    if (s.AutoTypePosition > s.AutoTypeText.size()) return false;
    for (uint32_t line = 10; line < 16; ++line)
      if (KeyboardLine(k, line) != 0xFF) return false;
    if (!second.empty() && !replaced && steps == alone / 2 + 1) {
      StartAutoType(s, AutoTypeTextFromLines(second));
      replaced = true;
    }
  }
  if (s.AutoTypePosition != 0 || s.AutoTypeKeyDown || !AllReleased(k)) return false;
  return replaced || steps == alone;
}

}  // namespace autotypefuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!autotypefuzz::AutoTypeFuzzInput(data, size)) __builtin_trap();
  return 0;
}
