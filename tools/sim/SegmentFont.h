#pragma once

// How the display turns a text into what its five positions light. Position 0 carries the
// indicator LEDs, positions 1..4 the digits from left to right; bit j of a position is its
// segment j.

#include <string_view>

#include "core/Types.h"

namespace zorvid::sim {

// Segments of one digit position.
enum TSegment : TByte {
  kSegmentTop = 0x01,
  kSegmentUpperRight = 0x02,
  kSegmentLowerRight = 0x04,
  kSegmentBottom = 0x08,
  kSegmentLowerLeft = 0x10,
  kSegmentUpperLeft = 0x20,
  kSegmentMiddle = 0x40,
  kSegmentPoint = 0x80,
};

// The indicator LEDs of position 0: a green and a red one at the left, two red ones between the
// second and third digit that together form the colon.
enum TIndicator : TByte {
  kIndicatorLeftGreen = 0x01,
  kIndicatorLeftRed = 0x02,
  kIndicatorColonLower = 0x04,
  kIndicatorColonUpper = 0x08,
};
inline constexpr TByte kIndicatorColon = kIndicatorColonLower | kIndicatorColonUpper;

inline constexpr std::size_t kDigitCount = 4;

// The segments that show `c` (either case); 0 for a blank and for a letter seven segments
// cannot show (k, m, v, w, x, z).
TByte GlyphSegments(char c);

// The five position bytes that show a display text: the first four characters other than "."
// and ":" fill the digits, right-aligned when there are fewer (a text padded by the sender ends
// in a blank fifth character, which thus falls away); a "." lights the point of the digit before
// it, a ":" lights the colon. The left LEDs stay dark.
TByteString RenderDisplayText(std::string_view text);

}  // namespace zorvid::sim
