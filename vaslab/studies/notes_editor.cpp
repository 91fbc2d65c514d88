#include "vaslab/studies/notes_editor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/window.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/module_table.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/studies/module_entries.h"
#include "vaslab/studies/module_frame.h"
#include "vaslab/studies/study_page.h"
#include "vaslab/studies/study_template.h"

namespace vaslab {

// --- The re-wrap ---------------------------------------------------------------------

namespace {

constexpr char kCarriageReturn = 13;

// One split step: the characters the line takes, its flags and how much of
// the text it uses up (the taken characters plus a dropped space or Enter).
struct Piece {
  std::size_t take, used;
  std::uint16_t flags;
};

Piece next_piece(std::string_view rest, std::size_t w) {
  const std::size_t cr = rest.find(kCarriageReturn);
  if (cr != std::string_view::npos && cr == w + 1 && rest[w] == ' ')
    return {w, w + 2, kLineDroppedSpace | kLineHardEnd};
  if (cr != std::string_view::npos && cr <= w) return {cr, cr + 1, kLineHardEnd};
  if (rest.size() > w) {
    const std::size_t space = rest.substr(0, w + 1).rfind(' ');
    if (space == w) return {w, w + 1, kLineDroppedSpace | kLineSoftWrap};
    if (space != std::string_view::npos) return {space + 1, space + 1, kLineSoftWrap};
    return {w, w, kLineSoftWrap};
  }
  return {rest.size(), rest.size(), kLineEndOfText};
}

}  // namespace

bool rewrap_block(std::vector<WrapLine>& lines, WrapCursor& cursor, int change, bool insert) {
  const int n = static_cast<int>(lines.size());
  if (n == 0) return false;
  const int cursor_line = std::clamp(cursor.line, 0, n - 1);

  // The joined text, and the cursor's place in it.  A cursor past the end of
  // its line's text stands after that line's dropped space, if it has one:
  // that is where the space shows.
  std::string text;
  std::size_t place = 0;
  for (int i = 0; i < n; ++i) {
    const WrapLine& l = lines[i];
    if (i == cursor_line) {
      const auto len = static_cast<int>(l.answer.size());
      place = text.size() + static_cast<std::size_t>(std::clamp(cursor.offset, 0, len));
      if (cursor.offset > len && (l.flags & kLineDroppedSpace)) ++place;
    }
    text += l.answer;
    if (l.flags & kLineDroppedSpace) text += ' ';
    if (l.flags & kLineHardEnd) text += kCarriageReturn;
  }

  if (change == kWrapBackspace) {
    if (place == 0) return true;
    text.erase(--place, 1);
  } else if (change == kWrapDelete) {
    if (place >= text.size()) return true;
    text.erase(place, 1);
  } else {
    const char c = static_cast<char>(change);
    if (insert || c == kCarriageReturn || place >= text.size() || text[place] == kCarriageReturn)
      text.insert(place, 1, c);
    else
      text[place] = c;
    ++place;
  }

  std::vector<WrapLine> out = lines;
  for (WrapLine& l : out) {
    l.answer.clear();
    l.flags = 0;
  }
  // starts[i]: where line i's piece begins in the text; the last line that
  // holds any of it is `last`.
  std::vector<std::size_t> starts(static_cast<std::size_t>(n), 0);
  std::size_t pos = 0;
  int last = 0;
  for (int k = 0;; ++k) {
    WrapLine& l = out[k];
    const Piece p = next_piece(std::string_view(text).substr(pos), static_cast<std::size_t>(std::max(l.width, 0)));
    l.answer = text.substr(pos, p.take);
    l.flags = p.flags;
    starts[k] = pos;
    pos += p.used;
    if (p.flags == kLineEndOfText) {
      last = k;
      break;
    }
    // A line that wrapped needs a next line, even when the text ends here.
    if (k + 1 >= n) return false;
    if (pos == text.size()) {
      if (p.flags & kLineSoftWrap) {
        l.flags = static_cast<std::uint16_t>((p.flags & ~kLineSoftWrap) | kLineEndOfText);
        last = k;
      } else {
        out[k + 1].flags = kLineEndOfText;
        starts[k + 1] = pos;
        last = k + 1;
      }
      break;
    }
  }

  // Every place lies in a piece (a piece ends before the next one begins,
  // the last one at the end of the text), so the cursor never lands before
  // a line's answer nor past its room.
  WrapCursor moved{last, static_cast<int>(place - starts[last])};
  for (int i = 0; i < last; ++i)
    if (place < starts[i + 1]) {
      moved = {i, static_cast<int>(place - starts[i])};
      break;
    }
  lines = std::move(out);
  cursor = moved;
  return true;
}

// --- The form ---------------------------------------------------------------------------

namespace {

// The form is 80 columns wide in every mode; a line's caption and answer
// stay inside them, whatever the template says.
constexpr int kLineChars = 80;

// One line of the form.
struct NotesLine {
  char text[88];              // padding, caption, answer; NUL-ended
  std::uint8_t answer_start;  // index of the answer's first character (its column - 1)
  std::uint8_t width;         // answer width, clamped to the room after answer_start
  std::uint8_t attribute;
  std::uint8_t block_tag;
  std::uint16_t flags;        // line-end flags
  std::uint8_t changed;       // the page must be written when the cursor leaves
  std::uint8_t unused;
};
static_assert(sizeof(NotesLine) == 96);

constexpr std::uint8_t kBlockStart = 1;
constexpr std::uint8_t kBlockEnd = 3;

// Button codes.
constexpr int kExit = 1, kNext = 2, kBack = 3, kLarge = 12, kSmall = 13, kKeyboard = 14, kLeft = 15,
              kRight = 16, kCapsLock = 17, kBackspace = 18, kInsert = 19, kPageUp = 20, kPageDown = 21,
              kDelete = 22, kHome = 23, kEnd = 24, kMode = 25, kEnter = 26, kTouchText = 4123;
// Keyboard codes: the virtual key + 256, and Alt+K, Alt+L, Alt+S of the
// typing wait.
constexpr int key(int vk) { return vk + 256; }
constexpr int kAltK = 331, kAltL = 332, kAltS = 339;

// Screen modes.
constexpr int kSmallMode = 0, kKeyboardMode = 1, kLargeMode = 2;

// Dark text on a white sheet; the cursor is the character inverted.
constexpr int kPaper = kColorWhite;
constexpr int kCaptionColor = kColorGrey;
constexpr int kAnswerColor = kColorBlack;
constexpr int kFieldRuleColor = kColorGrey;

std::string_view answer_of(const NotesLine& l) {
  const char* a = l.text + l.answer_start;
  return {a, ::strnlen(a, sizeof l.text - l.answer_start)};
}

// Copies at most the line's width of `value` into its answer.
void set_answer(NotesLine& l, std::string_view value) {
  const std::size_t n = std::min<std::size_t>(value.size(), l.width);
  std::memcpy(l.text + l.answer_start, value.data(), n);
  l.text[l.answer_start + n] = 0;
}

NotesLine make_line(const NotesStep& s) {
  NotesLine l{};
  const std::string_view caption(s.caption, ::strnlen(s.caption, sizeof s.caption));
  // The caption width is a signed word of 30ths: up to 1092 characters, or
  // negative; the padding never leaves the line's room.
  const int pad = std::clamp(s.caption_width / 30 - static_cast<int>(caption.size()), 0, kLineChars);
  std::memset(l.text, ' ', static_cast<std::size_t>(pad));
  const std::size_t shown = std::min<std::size_t>(caption.size(), static_cast<std::size_t>(kLineChars - pad));
  std::memcpy(l.text + pad, caption.data(), shown);
  l.answer_start = static_cast<std::uint8_t>(static_cast<std::size_t>(pad) + shown);
  l.width = static_cast<std::uint8_t>(std::min<int>(s.answer_width, kLineChars - l.answer_start));
  l.attribute = s.attribute & 3;
  l.block_tag = s.block_tag;
  set_answer(l, std::string_view(s.default_answer, ::strnlen(s.default_answer, sizeof s.default_answer)));
  l.changed = !answer_of(l).empty();
  return l;
}

class NotesForm {
 public:
  int run(int argc, char* argv[]);

 private:
  // Loading.
  int load();
  void find_blocks();
  void prefill(int i, const NotesStep& s);
  bool type_text(std::string_view text);
  void read_pages();
  void mark_end_of_text();
  int first_editable_from(int line) const;

  bool editable(int i) const { return lines_[i].width > 0; }
  int answer_length(int i) const { return static_cast<int>(answer_of(lines_[i]).size()); }
  bool in_block(int i) const { return block_first_[i] != block_last_[i] || lines_[i].block_tag == kBlockStart; }
  int step_of(int i) const { return first_ + i; }

  // Editing.
  int handle(int code);
  bool edit(int change);
  int move_horizontal(int direction);
  int move_vertical(int direction);
  void page(int direction);
  void go_to(int line, int column);
  void touch_text();
  int leave(int result);
  bool write_line(int i);
  void write_changed(int from_line);

  // The screen.
  int lines_shown() const { return mode_ == kSmallMode ? 19 : mode_ == kLargeMode ? 5 : 1; }
  void set_mode(int mode);
  void build_table();
  void draw_form();
  void draw_lines();
  void draw_help();
  void draw_keyboard_state();
  void scroll_to_cursor();

  std::string template_base_, template_path_;
  int exam_id_ = 0, first_ = 0, count_ = 0;
  std::vector<NotesLine> lines_;
  std::vector<int> block_first_, block_last_;
  int cursor_ = 0;  // line
  int column_ = 0;  // index into the line's text
  int top_ = 0;     // first line shown
  int mode_ = kSmallMode;
  bool insert_ = true;
  bool redraw_ = false;  // the whole form, not only its lines
  std::vector<ButtonRecord> table_;
  std::unique_ptr<StudyPage> page_ = std::make_unique<StudyPage>();
};

// --- Loading ---

int NotesForm::load() {
  lines_.clear();
  std::vector<NotesStep> steps(static_cast<std::size_t>(count_));
  for (int i = 0; i < count_; ++i) {
    std::uint8_t buf[kNotesPrefix];
    if (!read_template_record(template_path_, step_of(i), sizeof buf, buf)) return kResultError;
    decode_notes_step(buf, steps[i]);
    lines_.push_back(make_line(steps[i]));
  }
  find_blocks();
  for (int i = 0; i < count_; ++i) prefill(i, steps[i]);
  read_pages();
  mark_end_of_text();
  return 0;
}

// A block runs from a line tagged as its start to the next line tagged as
// an end (or the line before the next start, or the last line); every other
// line is a block of its own.
void NotesForm::find_blocks() {
  block_first_.assign(static_cast<std::size_t>(count_), 0);
  block_last_.assign(static_cast<std::size_t>(count_), 0);
  for (int i = 0; i < count_; ++i) block_first_[i] = block_last_[i] = i;
  for (int i = 0; i < count_; ++i) {
    if (lines_[i].block_tag != kBlockStart) continue;
    int end = i;
    while (end + 1 < count_ && lines_[end].block_tag != kBlockEnd && lines_[end + 1].block_tag != kBlockStart) ++end;
    for (int j = i; j <= end; ++j) {
      block_first_[j] = i;
      block_last_[j] = end;
    }
    i = end;
  }
}

void NotesForm::prefill(int i, const NotesStep& s) {
  const int field = s.import_fill & 0x3F;
  if (field == 0) return;
  char buf[kWorklistBufferSize] = {};
  const int got = call_worklist_control(field, buf, sizeof buf);
  if (got < 0) return;
  NotesLine& l = lines_[i];
  const std::string imported(buf, ::strnlen(buf, sizeof buf));
  const std::string fallback(answer_of(l));
  switch (s.import_fill >> 6) {
    case 1: set_answer(l, fallback + imported); break;
    case 2: set_answer(l, imported); break;
    case 3:
      // Typed in from the answer's start, so that a long text wraps on over
      // the block; the exchange hands a long field out in pieces of 80, the
      // last one shorter.
      if (!editable(i)) break;
      cursor_ = i;
      column_ = l.answer_start;
      for (std::string piece = imported;;) {
        if (!type_text(piece) || static_cast<int>(piece.size()) < kImportFieldChars) break;
        const int more = call_worklist_control(-11, buf, sizeof buf);
        if (more <= 0) break;
        piece.assign(buf, ::strnlen(buf, sizeof buf));
      }
      break;
    default: set_answer(l, imported + fallback); break;
  }
  l.changed = 1;
}

// Characters entered at the cursor as if typed; false at the first that no
// longer fits.
bool NotesForm::type_text(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = ' ';
    if (!edit(c)) return false;
  }
  return true;
}

void NotesForm::read_pages() {
  for (int i = 0; i < count_; ++i) {
    if (read_study_page(step_of(i), exam_id_, template_base_, *page_, false) != 0) continue;
    NotesLine& l = lines_[i];
    set_answer(l, std::string_view(page_->text, ::strnlen(page_->text, sizeof page_->text)));
    l.flags = static_cast<std::uint16_t>(page_->count);
    l.changed = 0;
  }
}

// Exactly one line of a tagged block carries the end of its text.
void NotesForm::mark_end_of_text() {
  for (int i = 0; i < count_; i = block_last_[i] + 1) {
    if (!in_block(i)) continue;
    bool seen = false;
    for (int j = i; j <= block_last_[i]; ++j) {
      if (seen) lines_[j].flags &= static_cast<std::uint16_t>(~kLineEndOfText);
      seen = seen || (lines_[j].flags & kLineEndOfText);
    }
    if (!seen) lines_[block_last_[i]].flags |= kLineEndOfText;
  }
}

// The line itself when editable, else the next editable one, else the one
// before; -1 when no line is.
int NotesForm::first_editable_from(int line) const {
  for (int i = line; i < count_; ++i)
    if (editable(i)) return i;
  for (int i = line - 1; i >= 0; --i)
    if (editable(i)) return i;
  return -1;
}

// --- Editing ---

// One change at the cursor through the re-wrap of its block; false (and
// nothing changed) when the result does not fit.
bool NotesForm::edit(int change) {
  const int b0 = block_first_[cursor_], b1 = block_last_[cursor_];
  std::vector<WrapLine> block;
  for (int i = b0; i <= b1; ++i) block.push_back({std::string(answer_of(lines_[i])), lines_[i].width, lines_[i].flags});
  WrapCursor c{cursor_ - b0, column_ - lines_[cursor_].answer_start};
  if (!rewrap_block(block, c, change, insert_)) return false;
  for (int i = b0; i <= b1; ++i) {
    NotesLine& l = lines_[i];
    const WrapLine& w = block[static_cast<std::size_t>(i - b0)];
    if (answer_of(l) == w.answer && l.flags == w.flags) continue;
    set_answer(l, w.answer);
    l.flags = w.flags;
    l.changed = 1;
  }
  cursor_ = b0 + c.line;
  column_ = lines_[cursor_].answer_start + c.offset;
  return true;
}

// Puts the cursor on a line; the page of the line it leaves is written.
void NotesForm::go_to(int line, int column) {
  if (line != cursor_) write_changed(cursor_);
  cursor_ = line;
  column_ = std::clamp(column, static_cast<int>(lines_[line].answer_start),
                       lines_[line].answer_start + answer_length(line));
  scroll_to_cursor();
}

int NotesForm::move_horizontal(int direction) {
  const int start = lines_[cursor_].answer_start, end = start + answer_length(cursor_);
  if (direction < 0 ? column_ > start : column_ < end) {
    column_ = std::clamp(column_ + direction, start, end);
    return -1;
  }
  for (int i = cursor_ + direction; i >= block_first_[cursor_] && i <= block_last_[cursor_]; i += direction)
    if (editable(i)) {
      go_to(i, direction < 0 ? lines_[i].answer_start + answer_length(i) : lines_[i].answer_start);
      return -1;
    }
  for (int i = cursor_ + direction; i >= 0 && i < count_; i += direction)
    if (editable(i)) return -1;  // another block: the move stays on this line
  return leave(direction < 0 ? kLeft : kRight);
}

int NotesForm::move_vertical(int direction) {
  for (int i = cursor_ + direction; i >= 0 && i < count_; i += direction)
    if (editable(i)) {
      go_to(i, column_);
      return -1;
    }
  return leave(direction < 0 ? kResultBack : kResultStretchDone);
}

// The window moves by the lines shown, the cursor to the nearest editable
// line of where it would stand, first in the direction of the move.
void NotesForm::page(int direction) {
  const int shown = lines_shown();
  const int target = std::clamp(cursor_ + direction * shown, 0, count_ - 1);
  int found = -1;
  for (int d = 0; d < count_ && found < 0; ++d) {
    for (int candidate : {target + direction * d, target - direction * d})
      if (candidate >= 0 && candidate < count_ && editable(candidate)) {
        found = candidate;
        break;
      }
  }
  top_ = std::clamp(top_ + direction * shown, 0, std::max(0, count_ - shown));
  if (found >= 0) go_to(found, column_);
}

void NotesForm::touch_text() {
  const std::int32_t p = get_pointer_position();
  const int x = p & 0xFFFF, y = p >> 16;
  column_ = std::clamp(x / 16 + (y >= 59 ? 40 : 0), static_cast<int>(lines_[cursor_].answer_start),
                       lines_[cursor_].answer_start + answer_length(cursor_));
}

int NotesForm::handle(int code) {
  // A character or a line end that no longer fits is refused with the error
  // beep, as a full field is everywhere else: dropped silently it would be
  // missing from the report without the operator knowing.
  if (code >= 32 && code <= 126) {
    if (!edit(code)) beep_once();
    return -1;
  }
  switch (code) {
    case kExit: return leave(kResultLeave);
    case kEnter:
      if (!in_block(cursor_)) return move_vertical(1);
      if (!edit(kWrapEnter)) beep_once();
      return -1;
    case kBackspace: edit(kWrapBackspace); return -1;
    case kDelete: edit(kWrapDelete); return -1;
    case kLeft: return move_horizontal(-1);
    case kRight: return move_horizontal(1);
    case kHome: column_ = lines_[cursor_].answer_start; return -1;
    case kEnd: column_ = lines_[cursor_].answer_start + answer_length(cursor_); return -1;
    case kBack: return move_vertical(-1);
    case kNext: return move_vertical(1);
    case kPageUp: page(-1); return -1;
    case kPageDown: page(1); return -1;
    case kInsert: insert_ = !insert_; return -1;
    case kCapsLock: toggle_caps_lock(); return -1;
    case kSmall: set_mode(kSmallMode); return -1;
    case kLarge: set_mode(kLargeMode); return -1;
    case kKeyboard: set_mode(kKeyboardMode); return -1;
    case kMode: set_mode(mode_ == kSmallMode ? kKeyboardMode : mode_ == kKeyboardMode ? kLargeMode : kSmallMode); return -1;
    case kTouchText:
      if (mode_ == kKeyboardMode) touch_text();
      return -1;
    default: return -1;
  }
}

// Writes line i's page: its answer and line-end flags.  A failure is shown
// and the line stays changed, so that the next move writes it again.
bool NotesForm::write_line(int i) {
  StudyPage& p = *page_;
  p = StudyPage{};
  std::snprintf(p.template_name, sizeof p.template_name, "%s", template_base_.c_str());
  const std::string_view a = answer_of(lines_[i]);
  std::snprintf(p.text, sizeof p.text, "%.*s", static_cast<int>(a.size()), a.data());
  p.count = static_cast<std::int16_t>(lines_[i].flags);
  if (write_study_page(step_of(i), exam_id_, p) != 0) {
    show_message_box(nullptr, "File error.", "Error", 0);
    redraw_ = true;  // the box was drawn over the form
    return false;
  }
  lines_[i].changed = 0;
  return true;
}

// The line the cursor leaves, and the other changed lines of its block: a
// change re-wraps the whole block, and text moved onto a line the cursor
// never enters would otherwise never reach its page.
void NotesForm::write_changed(int from_line) {
  if (lines_[from_line].changed && !write_line(from_line)) return;
  for (int i = block_first_[from_line]; i <= block_last_[from_line]; ++i)
    if (i != from_line && lines_[i].changed && !write_line(i)) return;
}

int NotesForm::leave(int result) {
  write_changed(cursor_);
  poke_comm_area_word(0, kStepSlot, step_of(cursor_));
  wait_button_release_typing(table_.data());
  release_background();
  return result;
}

// --- The screen ---

void NotesForm::set_mode(int mode) {
  mode_ = mode;
  // Letters from the on-screen keys come as capitals only with Caps Lock on.
  if (mode_ == kKeyboardMode && !(peek_keyboard_flags(0, kKeyboardFlagsAddress) & 0x40)) toggle_caps_lock();
  build_table();
  scroll_to_cursor();
  draw_form();
}

void NotesForm::build_table() {
  table_.clear();
  auto add = [this](int x1, int y1, int x2, int y2, const char* label, int code, int keyboard,
                    std::uint8_t state = kButtonShown) {
    table_.push_back(make_button(x1, y1, x2, y2, label, code, keyboard, 0, state));
  };
  // Keyed entries first: the keyboard lookup stops at the first entry
  // without a keyboard code.
  if (mode_ == kSmallMode) {
    add(8, 416, 159, 478, "KEYBD^notes_keybd", kKeyboard, kAltK);
    add(168, 416, 319, 478, "LARGE^notes_large", kLarge, kAltL);
    add(500, 416, 631, 478, "EXIT^glbl_exit", kExit, kEscapeKeyCode);
  } else if (mode_ == kLargeMode) {
    add(8, 416, 159, 478, "SMALL^notes_small", kSmall, kAltS);
    add(168, 416, 319, 478, "KEYBD^notes_keybd", kKeyboard, kAltK);
    add(500, 416, 631, 478, "EXIT^glbl_exit", kExit, kEscapeKeyCode);
  } else {
    add(480, 416, 631, 478, "Next^glbl_next", kNext, key(platform::vk::kDown));
  }
  const struct {
    int code, vk;
  } hidden[] = {{kBack, platform::vk::kUp},       {kNext, platform::vk::kDown},    {kEnter, platform::vk::kReturn},
                {kLeft, platform::vk::kLeft},     {kRight, platform::vk::kRight},  {kBackspace, platform::vk::kBack},
                {kInsert, platform::vk::kInsert}, {kPageUp, platform::vk::kPrior}, {kPageDown, platform::vk::kNext},
                {kDelete, platform::vk::kDelete}, {kHome, platform::vk::kHome},    {kEnd, platform::vk::kEnd},
                {kMode, platform::vk::kF2}};
  for (const auto& h : hidden) add(0, 0, 0, 0, "", h.code, key(h.vk), kButtonHidden);
  if (mode_ == kKeyboardMode) {
    // The on-screen keys: each key's code is its character.
    constexpr int kKey = 63, kLeftEdge = 5, kTop = 116;
    auto key_at = [&](int column, int row, const char* label, int code) {
      const int x = kLeftEdge + kKey * column, y = kTop + kKey * row;
      add(x, y, x + kKey - 1, y + kKey - 2, label, code, 0);
    };
    const char* const rows[] = {"1234567890", "QWERTYUIOP", "ASDFGHJKL-", "ZXCVBNM,./"};
    for (int r = 0; r < 4; ++r)
      for (int c = 0; rows[r][c]; ++c) {
        const char ch = rows[r][c];
        char label[24];
        const char* name = ch == '-' ? "pde_hyph" : ch == ',' ? "pde_comma" : ch == '.' ? "set_period"
                          : ch == '/' ? "set_slash" : nullptr;
        if (name)
          std::snprintf(label, sizeof label, "%c^%s", ch, name);
        else
          std::snprintf(label, sizeof label, "%c^set_%c", ch, ch >= 'A' && ch <= 'Z' ? ch + 32 : ch);
        key_at(c, r, label, ch);
      }
    // The rest share the button band with Next.
    add(8, 416, 70, 477, "CAPS^notes_caps", kCapsLock, 0);
    add(76, 416, 138, 478, "'^pde_apos", '\'', 0);
    add(144, 416, 269, 477, " ^pde_space", ' ', 0);
    add(275, 416, 400, 477, " ^pde_bksp", kBackspace, 0);
    // Touching the text puts the cursor there.
    add(0, 27, 639, 90, "", kTouchText, 0, kButtonGreyed);
  }
  table_.push_back(kButtonTableEnd);
}

void NotesForm::scroll_to_cursor() {
  const int shown = lines_shown();
  if (shown <= 2) {
    top_ = cursor_;
    return;
  }
  // The cursor keeps one line below it in view while there is one.
  if (cursor_ < top_) top_ = cursor_;
  if (cursor_ > top_ + shown - 2) top_ = cursor_ - (shown - 2);
  top_ = std::clamp(top_, 0, std::max(0, count_ - shown));
}

void NotesForm::draw_form() {
  set_colors(kColorWhite << 8 | kColorBackground);
  clear_screen();
  if (mode_ == kKeyboardMode) draw_screen_title("Enter NOTES here:");
  draw_buttons(table_.data());
  draw_lines();
}

void NotesForm::draw_lines() {
  // The sheet under the lines: below the title band but in the small mode,
  // whose 19 rows take the screen from its top.
  if (mode_ == kSmallMode)
    fill_rect_color(0, 0, 640, 19 * 19 + 1, kPaper);
  else
    fill_rect_color(0, 27, 640, 69 * (lines_shown() - 1) + 93, kPaper);
  for (int row = 0; row < lines_shown(); ++row) {
    const int i = top_ + row;
    if (i >= count_) break;
    const NotesLine& l = lines_[i];
    const std::string caption(l.text, l.answer_start);
    const std::string answer(answer_of(l));
    // Each answer is ruled to its width, so that the operator sees where the
    // line ends before it is full.
    if (mode_ == kSmallMode) {
      draw_text_cells(caption.c_str(), 19 * row + 2, 0, kPaper, kCaptionColor);
      draw_text_cells(answer.c_str(), 19 * row + 2, l.answer_start, kPaper, kAnswerColor);
      underline_text_cells(row, l.answer_start, l.width, kFieldRuleColor);
    } else {
      g_draw.fill_color = kPaper;
      g_draw.text_color = kCaptionColor;
      draw_entry_text_wrapped(caption.c_str(), row, 0);
      g_draw.text_color = kAnswerColor;
      draw_entry_text_wrapped(answer.c_str(), row, l.answer_start);
      underline_entry_cells(row, l.answer_start, l.width, kFieldRuleColor);
    }
  }
  if (mode_ == kLargeMode)
    for (int row = 0; row + 1 < lines_shown(); ++row) fill_rect_color(0, 69 * row + 94, 640, 69 * row + 95, kColorGrey);
  const int row = cursor_ - top_;
  const std::string_view text(lines_[cursor_].text, ::strnlen(lines_[cursor_].text, sizeof lines_[cursor_].text));
  const char under = column_ < static_cast<int>(text.size()) ? text[static_cast<std::size_t>(column_)] : ' ';
  if (mode_ == kSmallMode)
    draw_text_cursor(row, column_, under, kAnswerColor, kPaper);
  else
    draw_entry_cursor(row, column_, under, kAnswerColor, kPaper);
  if (mode_ == kKeyboardMode)
    draw_keyboard_state();
  else
    draw_help();
  set_colors(kColorWhite << 8 | kColorBackground);
  mark_dirty(kDirtyWholeWindow);
}

void NotesForm::draw_help() {
  char ins[64];
  std::snprintf(ins, sizeof ins, "INS - Toggle Insert (%c) / Overwrite (%c) mode", insert_ ? '*' : ' ',
                insert_ ? ' ' : '*');
  const struct {
    int row, column;
    const char* text;
  } lines[] = {{0, 1, "Active keys: Up/Down/Left/Right/Home/End - Cursor movement"},
               {1, 1, ins},
               {1, 50, "F2 - Toggle screen mode"},
               {2, 1, "Backspace/DEL - Character deletion"},
               {2, 50, "ESC - Exit"}};
  // In the 8 by 8 face, to fit between the sheet and the button band.
  const int top = mode_ == kSmallMode ? 368 : 373;
  fill_rect_color(0, top, 640, top + 30, kColorBackground);
  for (const auto& l : lines) draw_text_sized(l.text, top + 11 * l.row, 8 * l.column, 8, kColorWhite);
}

void NotesForm::draw_keyboard_state() {
  fill_rect_color(440, 4, 640, 20, kColorBackground);
  draw_text_cells(insert_ ? "INSERT" : "OVERWRITE", 6, 56, kColorBackground, kColorWhite);
  if (peek_keyboard_flags(0, kKeyboardFlagsAddress) & 0x40) draw_text_cells("CAPS", 6, 74, kColorBackground, kColorWhite);
}

int NotesForm::run(int argc, char* argv[]) {
  if (argc != 6) return kResultError;
  template_base_ = template_base_name(argv[1]);
  template_path_ = template_file_name(argv[1]);
  exam_id_ = static_cast<std::int16_t>(std::atoi(argv[2]));
  first_ = static_cast<std::int16_t>(std::atoi(argv[3]));
  count_ = static_cast<std::int16_t>(std::atoi(argv[4]));
  const int current = static_cast<std::int16_t>(std::atoi(argv[5]));
  // Record 0 is the study header, never a step.
  if (first_ < 1 || current < first_ || current > first_ + count_ - 1) return kResultError;
  cursor_ = current - first_;
  if (load() != 0) return kResultError;

  const int start = first_editable_from(current - first_);
  if (start < 0) {
    poke_comm_area_word(0, kStepSlot, first_ + count_);
    return kResultStretchDone;
  }
  cursor_ = start;
  column_ = lines_[start].answer_start;
  insert_ = true;
  load_background("notes_bkgd");
  const char* entry = hardware_settings().data_entry;
  set_mode(entry[0] == '2' ? kLargeMode : entry[0] == '3' ? kKeyboardMode : kSmallMode);

  for (;;) {
    int code = get_button_event_typing(table_.data());
    if (code < 0) continue;
    if (code != kTouchText) code &= ~kRepeatBit;
    const int mode = mode_;
    const int result = handle(code);
    if (result >= 0) return result;
    if (redraw_)
      draw_form();
    else if (mode_ == mode)
      draw_lines();
    redraw_ = false;
  }
}

}  // namespace

int lineedit_main(int argc, char* argv[]) {
  NotesForm form;
  return form.run(argc, argv);
}

}  // namespace vaslab
