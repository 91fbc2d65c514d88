#include "vaslab/core/message_box.h"

#include <string>

#include "platform/debug.h"
#include "vaslab/core/main_window.h"

namespace vaslab {

char g_message_text[kMessageLineSize] = {};

// Until the screen toolkit draws the box, the text goes to the debug output
// and the box answers as if its first button were pressed.
int show_message_box(void*, const char* text, const char* title, int flags) {
  platform::debug_printf("message box [%s]: %s\n", title ? title : "", text ? text : "");
  switch (flags & 15) {
    case kMbRetryCancel: return kMbCancel;
    default: return kMbOk;
  }
}

int show_error_and_restore() {
  if (!main_window_exists()) return 0;
  show_message_box(nullptr, g_message_text, nullptr, 0);
  restore_main_window();
  return 1;
}

}  // namespace vaslab
