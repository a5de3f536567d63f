#include "tools/sim/SegmentFont.h"

#include <array>
#include <vector>

namespace zorvid::sim {
namespace {

constexpr std::array<TByte, 10> kDigitGlyphs{0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                             0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// a..z; zero where no recognisable shape exists.
constexpr std::array<TByte, 26> kLetterGlyphs{
    0x77, 0x7C, 0x58, 0x5E, 0x79, 0x71, 0x3D, 0x74, 0x04, 0x1E, 0x00, 0x38, 0x00,
    0x54, 0x5C, 0x73, 0x67, 0x50, 0x6D, 0x78, 0x3E, 0x00, 0x00, 0x00, 0x6E, 0x00,
};

}  // namespace

TByte GlyphSegments(char c) {
  if (c >= '0' && c <= '9') return kDigitGlyphs[static_cast<std::size_t>(c - '0')];
  if (c >= 'a' && c <= 'z') return kLetterGlyphs[static_cast<std::size_t>(c - 'a')];
  if (c >= 'A' && c <= 'Z') return kLetterGlyphs[static_cast<std::size_t>(c - 'A')];
  if (c == '-') return kSegmentMiddle;
  return 0;
}

TByteString RenderDisplayText(std::string_view text) {
  std::vector<TByte> digits;
  TByte indicators = 0;
  for (const char c : text) {
    if (c == ':') {
      indicators |= kIndicatorColon;
    } else if (c == '.') {
      if (!digits.empty()) digits.back() |= kSegmentPoint;
    } else if (digits.size() < kDigitCount) {
      digits.push_back(GlyphSegments(c));
    }
  }
  TByteString positions(1 + kDigitCount - digits.size(), '\0');
  positions[0] = static_cast<char>(indicators);
  for (const TByte segments : digits)
    positions += static_cast<char>(segments);
  return positions;
}

}  // namespace zorvid::sim
