// Reads the text a CPC program shows, for scripts and tests: each 8 x 8
// character cell of the displayed area is matched against the 256 glyphs of
// the font in the lower ROM (at &3800 in the 464/664/6128 firmware), with
// any two pens as ink and paper.
//
// Works from the CRTC registers, the screen mode and the base 64K of RAM,
// not from the frame, so it sees what the firmware put on the screen even
// if the picture is rolling or the monitor is green. Leaves out
// mid-frame register or mode changes (split screens) and characters not
// aligned to 8-line cells.
#pragma once

#include <string>
#include <vector>

struct Machine;

// One string per text row, right-trimmed. Printable ASCII glyphs read as
// themselves, one-pen cells and cells matching no glyph as a blank, any
// other glyph of the font (graphics, control symbols) as '?'.
std::vector<std::string> ScreenText(const Machine& m);
