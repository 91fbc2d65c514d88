#include "vaslab/core/toolkit/message_box.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/debug.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/screen.h"

namespace vaslab {

char g_message_text[kMessageLineSize] = {};

namespace {

// The lines start one 16-pixel cell inside the band and end one cell before
// its right end.
constexpr int kTextLeft = 16;
constexpr std::size_t kLineChars = 38;
// The band's usual top; the first line is 50 pixels below the top, under
// the title, and lines are 20 pixels apart.  Seven lines fit above the
// buttons (at y 308); a longer text raises the top, up to five lines more,
// with room left for the upper border.
constexpr int kBandTop = 119;
constexpr int kFirstLineBelowTop = 50;
constexpr int kLineSpacing = 20;
constexpr std::size_t kLinesInBand = 7;
constexpr std::size_t kMaxLines = kLinesInBand + 5;

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

std::vector<std::string> wrap_box_text(const char* text, std::size_t width) {
  std::vector<std::string> lines;
  if (!text || width == 0) return lines;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  // The texts were laid out in lines of 40 characters; a line that does not
  // fit flows into the next one, so that no word is left on a line of its
  // own.  A blank line ends the flow.
  std::string carry;
  while (*p) {
    // The printable text up to the end of this source line.
    std::string rest;
    for (; *p && *p != '\r' && *p != '\n'; ++p)
      if (printable(*p)) rest += static_cast<char>(*p);
    while (*p && !printable(*p)) ++p;
    if (!carry.empty()) {
      if (rest.find_first_not_of(' ') == std::string::npos)
        lines.push_back(carry);
      else
        rest = carry + ' ' + rest;
      carry.clear();
    }
    // Wrapped at the last blank that fits; a word longer than a line is cut.
    bool wrapped = false;
    while (rest.size() > width) {
      const std::size_t blank = rest.rfind(' ', width);
      const std::size_t take = blank == std::string::npos || blank == 0 ? width : blank;
      lines.push_back(rest.substr(0, take));
      rest.erase(0, take + (take < rest.size() && rest[take] == ' ' ? 1 : 0));
      wrapped = true;
    }
    if (wrapped && *p)
      carry = rest;
    else if (!wrapped || !rest.empty())
      lines.push_back(rest);
  }
  return lines;
}

std::vector<std::string> message_box_lines(const char* text) {
  std::vector<std::string> lines = wrap_box_text(text, kLineChars);
  if (lines.size() > kMaxLines) lines.resize(kMaxLines);
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
  const auto lines = message_box_lines(text);
  const int top = kBandTop - kLineSpacing * static_cast<int>(std::max(lines.size(), kLinesInBand) - kLinesInBand);
  g_draw.fill_color = kColorWhite;
  fill_bar(0, top, 639, 379);
  g_draw.fill_color = kColorDarkRed;
  fill_bar(0, 379, 639, 389);
  fill_bar(0, top - 10, 639, top);

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
    draw_text(319, top + 5, title);
  }
  g_draw.draw_color = kColorBlack;
  set_text_justify(kJustifyLeft, kJustifyTop);
  for (std::size_t i = 0; i < lines.size(); ++i)
    draw_text(kTextLeft, top + kFirstLineBelowTop + kLineSpacing * static_cast<int>(i), lines[i].c_str());

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
