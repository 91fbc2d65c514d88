#include "vaslab/core/message_box.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/debug.h"
#include "vaslab/core/event_wait.h"
#include "vaslab/core/main_window.h"
#include "vaslab/core/screen.h"

namespace vaslab {

char g_message_text[kMessageLineSize] = {};

namespace {

constexpr int kMaxLines = 5;
// The lines start one 16-pixel cell inside the band and end one cell before
// its right end.
constexpr int kTextLeft = 16;
constexpr std::size_t kLineChars = 38;

ButtonRecord g_box[] = {
    {0, 427, 308, 639, 379, "Retry", 32, kMbRetry, 13},
    {0, 0, 308, 157, 379, "Cancel", 283, kMbCancel, 17},
    {0, 0, 308, 639, 379, "OK", 269, kMbOk, 13},
    {0, 0, 308, 212, 379, "Cancel", 283, kMbCancel, 17},
    {0, 427, 308, 639, 379, "OK", 269, kMbOk, 13},
    kButtonTableEnd,
};

bool printable(unsigned char c) { return c >= 32 && c <= 127; }

}  // namespace

const ButtonRecord* message_box_buttons() { return g_box; }

std::vector<std::string> message_box_lines(const char* text) {
  std::vector<std::string> lines;
  if (!text) return lines;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p && static_cast<int>(lines.size()) < kMaxLines) {
    // The printable text up to the end of this source line.
    std::string rest;
    for (; *p && *p != '\r' && *p != '\n'; ++p)
      if (printable(*p)) rest += static_cast<char>(*p);
    while (*p && !printable(*p)) ++p;
    // Wrapped at the last blank that fits; a word longer than a line is cut.
    do {
      std::size_t take = rest.size();
      std::size_t skip = 0;
      if (take > kLineChars) {
        const std::size_t blank = rest.rfind(' ', kLineChars);
        take = blank == std::string::npos || blank == 0 ? kLineChars : blank;
        skip = take < rest.size() && rest[take] == ' ' ? 1 : 0;
      }
      lines.push_back(rest.substr(0, take));
      rest.erase(0, take + skip);
    } while (!rest.empty() && static_cast<int>(lines.size()) < kMaxLines);
  }
  return lines;
}

int show_message_box(void*, const char* text, const char* title, int flags) {
  platform::debug_printf("message box [%s]: %s\n", title ? title : "", text ? text : "");
  if (!screen_ready()) {
    // Nothing can be shown (start-up failed): the operator at least finds
    // the text in the log.
    // The box's line breaks ("\r") become the terminal's.
    std::string lines = text ? text : "";
    std::replace(lines.begin(), lines.end(), '\r', '\n');
    std::fprintf(stderr, "vaslab: %s%s%s\n", title ? title : "", title ? ": " : "", lines.c_str());
  }
  // The box paints with its own colours; the screen under it keeps the
  // draw state it had, so whatever the caller draws next is not painted in
  // the box's dark red.
  const DrawState saved = g_draw;
  g_draw.fill_color = kColorWhite;
  fill_bar(0, 119, 639, 379);
  g_draw.fill_color = kColorDarkRed;
  fill_bar(0, 379, 639, 389);
  fill_bar(0, 109, 639, 119);

  const int set = flags & 15;
  for (ButtonRecord* b = g_box; !is_table_end(*b); ++b) b->state = kButtonHidden;
  if (set == kMbOkCancel) {
    g_box[3].state = g_box[4].state = kButtonShown;
  } else if (set == kMbRetryCancel) {
    g_box[0].state = g_box[1].state = kButtonShown;
  } else if (set != kMbNoWait) {
    g_box[2].state = kButtonShown;
  }
  draw_buttons(g_box);

  set_text_size(3, 4, 2);
  if (title) {
    set_text_justify(kJustifyCentre, kJustifyTop);
    g_draw.draw_color = kColorDarkRed;
    draw_text(319, 124, title);
  }
  g_draw.draw_color = kColorBlack;
  set_text_justify(kJustifyLeft, kJustifyTop);
  const auto lines = message_box_lines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) draw_text(kTextLeft, 169 + 20 * static_cast<int>(i), lines[i].c_str());

  g_draw = saved;
  if (set == kMbNoWait) {
    poll_input_events(0);
    return kMbOk;
  }
  int result = -1;
  do {
    result = get_button_event(g_box);
  } while (result < 1 || result > 4);
  wait_button_release(g_box);
  drain_button_events(g_box);
  return result;
}

int show_not_available(const char* function, const char* reason) {
  std::string text = "This function is not available.";
  if (reason && *reason) text += std::string("\r") + reason;
  show_message_box(nullptr, text.c_str(), function, 0);
  return kMbOk;
}

int show_error_and_restore() {
  if (!main_window_exists()) return 0;
  show_message_box(nullptr, g_message_text, nullptr, 0);
  restore_main_window();
  return 1;
}

}  // namespace vaslab
