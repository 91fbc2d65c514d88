#include "vaslab/records/line_editor.h"

#include <algorithm>
#include <cstring>

#include "vaslab/core/system_utils.h"

namespace vaslab {
namespace {

constexpr int kMaxText = static_cast<int>(sizeof(LineEditor::text)) - 1;

// Right: up to the last character when the text fills the capacity, else up
// to one past the text.
void move_right(LineEditor& e) {
  const int last = e.length >= e.capacity ? e.capacity - 1 : e.length;
  e.cursor = std::max(e.label_length, std::min(e.cursor + 1, last));
}

void end_position(LineEditor& e) {
  e.cursor = (e.length >= e.capacity && e.capacity > e.label_length) ? e.capacity - 1 : e.length;
}

void type_char(LineEditor& e, char c) {
  if (e.insert) {
    if (e.length >= e.capacity) return;
    std::memmove(e.text + e.cursor + 1, e.text + e.cursor, static_cast<std::size_t>(e.length - e.cursor));
    e.text[e.cursor] = c;
    ++e.length;
  } else if (e.cursor < e.length) {
    e.text[e.cursor] = c;
  } else {
    if (e.length >= e.capacity) return;
    e.text[e.length++] = c;
  }
  e.text[e.length] = 0;
  move_right(e);
}

void delete_at_cursor(LineEditor& e) {
  if (e.cursor >= e.length) return;
  std::memmove(e.text + e.cursor, e.text + e.cursor + 1, static_cast<std::size_t>(e.length - e.cursor));
  --e.length;
  e.text[e.length] = 0;
}

}  // namespace

void start_line_edit(LineEditor& e, const char* label, const char* value, int capacity) {
  e.capacity = std::clamp(capacity, 0, kMaxText);
  const int label_length = static_cast<int>(label ? ::strnlen(label, static_cast<std::size_t>(kMaxText)) : 0);
  e.label_length = std::min(label_length, e.capacity);
  std::memset(e.text, 0, sizeof e.text);
  if (e.label_length) std::memcpy(e.text, label, static_cast<std::size_t>(e.label_length));
  const int room = e.capacity - e.label_length;
  const int value_length = static_cast<int>(value ? ::strnlen(value, static_cast<std::size_t>(room)) : 0);
  if (value_length) std::memcpy(e.text + e.label_length, value, static_cast<std::size_t>(value_length));
  e.length = e.label_length + value_length;
  end_position(e);
}

int line_edit_event(LineEditor& e, int code) {
  if (code >= 32 && code <= 126) {
    type_char(e, static_cast<char>(code));
    return -1;
  }
  switch (code) {
    case kEditAccept:
    case kEditExit:
    case kEditPrevious:
      return code;
    case 1010: move_right(e); break;
    case 1020:
      if (e.cursor > e.label_length) --e.cursor;
      break;
    case 1030: e.insert = !e.insert; break;
    case 1040: toggle_caps_lock(); break;
    case 1050:
      if (e.cursor > e.label_length) {
        --e.cursor;
        delete_at_cursor(e);
      }
      break;
    case 1060: delete_at_cursor(e); break;
    case 1070:
      e.length = e.label_length;
      std::memset(e.text + e.length, 0, sizeof e.text - static_cast<std::size_t>(e.length));
      e.cursor = e.label_length;
      break;
    case 1080: e.cursor = e.label_length; break;
    case 1090: end_position(e); break;
    default: break;
  }
  return -1;
}

const char* line_edit_value(const LineEditor& e) { return e.text + e.label_length; }

}  // namespace vaslab
