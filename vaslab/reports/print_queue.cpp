#include "vaslab/reports/print_queue.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/reports/report_generator.h"
#include "vaslab/reports/spooler.h"

namespace vaslab {
namespace {

PrintQueue g_queue{};

int pproc_error(int result) {
  std::snprintf(g_message_text, sizeof g_message_text, "pproc error: %d .", result);
  return result;
}

int pproc_dos_error(int negative_errno) {
  std::snprintf(g_message_text, sizeof g_message_text, "pproc error:DOS %d .", -negative_errno);
  return negative_errno;
}

// The raw path: the print processor turns the page into the printer's own
// language.  It is started as its command line names it, without a shell,
// so no character of a file name can run a command.
int run_print_processor(const std::string& source, const std::string& job, bool colour) {
  const std::string program = colour ? "C:\\PROGRAMS\\PPROC" : "C:\\PROGRAMS\\PPROCM";
  const std::vector<std::string> argv = platform::split_command_line(program + " " + source + " " + job);
  platform::file_delete(job);
  const int status = platform::run_program(program + ".EXE", {argv.begin() + 1, argv.end()});
  if (status == platform::kNotStarted) return pproc_dos_error(-errno);
  if (status != 0) return pproc_error(status);
  // A processor that ended well but left nothing would lose the page unseen.
  if (!platform::file_size(platform::map_path(job))) return pproc_dos_error(-ENOENT);
  return 0;
}

// The renderer path: a flag byte, then the page file byte for byte.  A job
// file that could not be made whole is not left behind.
int copy_page_job(const std::string& source, const std::string& job, bool colour) {
  platform::file_delete(job);
  const int in = platform::file_open(source, platform::OpenMode::kRead);
  if (in < 0) return pproc_dos_error(in);
  const int out = platform::file_open(job, platform::OpenMode::kCreateAlways);
  if (out < 0) {
    platform::file_close(in);
    return pproc_dos_error(out);
  }
  const std::uint8_t flag = colour ? 1 : 0;
  long long result = platform::file_write(out, &flag, 1);
  std::uint8_t piece[256];
  while (result >= 0) {
    const long long n = platform::file_read(in, piece, sizeof piece);
    if (n <= 0) {
      result = n;
      break;
    }
    result = platform::file_write(out, piece, static_cast<std::size_t>(n));
    if (result >= 0 && result < n) result = -EIO;
  }
  platform::file_close(in);
  const int closed = platform::file_close(out);
  if (result >= 0 && closed < 0) result = closed;
  if (result < 0) {
    platform::file_delete(job);
    return pproc_dos_error(static_cast<int>(result));
  }
  return 0;
}


}  // namespace

PrintQueue* get_print_queue() { return &g_queue; }

int find_free_print_slot() {
  const int start = g_queue.current_slot >= 0 && g_queue.current_slot < kPrintSlots ? g_queue.current_slot : 0;
  int slot = start;
  do {
    const std::uint8_t state = g_queue.slots[slot].state;
    if (state == kSlotFree || state == kSlotDone) return slot;
    slot = (slot + 1) % kPrintSlots;
  } while (slot != start);
  return -1;
}

std::string print_job_file(int slot) {
  char name[24];
  std::snprintf(name, sizeof name, "C:\\TEMP\\%02d.PRT", slot);
  return name;
}

int start_print_processor(int slot, const std::string& source, bool colour) {
  const std::string job = print_job_file(slot);
  platform::map_path_create_dirs(job);
  return printing_through_renderer() ? copy_page_job(source, job, colour) : run_print_processor(source, job, colour);
}

void wake_print_spooler() {
  std::int8_t& state = g_queue.spooler_state;
  if ((state & 7) == 6) state = 5;
  state &= 7;
}

bool queue_page(const std::string& source, int copies, bool colour) {
  const int slot = find_free_print_slot();
  if (slot < 0) {
    std::snprintf(g_message_text, sizeof g_message_text, "Print queue is full");
    return false;
  }
  g_queue.slots[slot] = PrintSlot{0, kSlotFree};
  if (start_print_processor(slot, source, colour) != 0) return false;
  g_queue.slots[slot] = PrintSlot{static_cast<std::uint8_t>(copies), kSlotQueued};
  wake_print_spooler();
  return true;
}

int queue_print_file(const char* file_name) {
  const std::string source = data_directory_path() + (file_name ? file_name : "");
  if (queue_page(source, 1, false)) return 0;
  show_error_and_restore();
  return -1;
}

}  // namespace vaslab
