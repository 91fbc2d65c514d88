// The study notes editor: a stretch of notes steps edited as one text form,
// one line per step, each a right-aligned caption and the operator's answer.
// Lines tagged as a block wrap into each other like one paragraph.  The
// form's entry is lineedit_main (module_entries.h); this header holds the
// re-wrap that every change of a block goes through.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vaslab {

// Line-end flags, stored with the answer in the line's page.
constexpr std::uint16_t kLineDroppedSpace = 0x01;  // a space followed the text and was dropped at the wrap
constexpr std::uint16_t kLineSoftWrap = 0x02;      // the text goes on on the next line
constexpr std::uint16_t kLineHardEnd = 0x04;       // Enter ended the line
constexpr std::uint16_t kLineEndOfText = 0x08;     // the last line of the block that holds text

// One line of a block as the re-wrap sees it.
struct WrapLine {
  std::string answer;
  int width = 0;  // the most characters the answer holds
  std::uint16_t flags = 0;

  bool operator==(const WrapLine&) const = default;
};

// The cursor in a block: the line and the offset from the start of its answer.
struct WrapCursor {
  int line = 0;
  int offset = 0;

  bool operator==(const WrapCursor&) const = default;
};

// What a change does at the cursor: a printable character or Enter (13) is
// entered, the deletions take the character before or at the cursor.
constexpr int kWrapEnter = 13;
constexpr int kWrapBackspace = -1;
constexpr int kWrapDelete = -2;

// Joins the block's answers into one text, applies the change at the
// cursor's place, splits the text over the lines again and puts the cursor
// where its place landed.  False when the text no longer fits the block:
// `lines` and `cursor` are then left as they were.  A deletion with nothing
// to delete changes nothing.
bool rewrap_block(std::vector<WrapLine>& lines, WrapCursor& cursor, int change, bool insert);

}  // namespace vaslab
