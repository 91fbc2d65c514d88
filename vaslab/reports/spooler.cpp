#include "vaslab/reports/spooler.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/debug.h"
#include "platform/file_io.h"
#include "platform/registry.h"
#include "platform/spooler.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/page_renderer.h"
#include "vaslab/reports/print_queue.h"

namespace vaslab {
namespace {

constexpr char kDocumentName[] = "Pulsaris Page";
constexpr char kMarginsKey[] = "Software\\Korvani\\VEVIDudo\\options";
constexpr int kRasterWidth = 2400;
constexpr int kRasterHeight = 3150;
// The page picture goes to CUPS at the raster's own resolution, so that one
// raster pixel is one printed pixel at 100 %.
constexpr int kPagePpi = 300;
constexpr std::size_t kNameRoom = 64;

struct Spooler {
  std::string printer;  // as chosen: a name, or "+" and the default's name
  bool renderer_path = false;
  bool open = false;  // the printer handle
  bool slots_armed = true;
  bool margins_read = false;
  PageMargins margins;
  PagePlacement placement;
  platform::PageSize page;

  // The job under way.
  platform::PrintJob job;
  bool job_failed = false;
  bool job_sent = false;
  int job_file = -1;
  std::vector<std::uint8_t> buffer;
  bool raster_failure_noted = false;
  std::string why_not_printed;  // the first reason the job under way failed

  // A page that did not print, waiting to be told to the operator; printing
  // waits until the operator has answered, so that no later failure goes
  // untold and no box opens over another.
  std::string untold_failure;
  bool telling = false;
  // The page under way has been told not printed: its further copies fail
  // for the same reason and are not told again.
  bool page_failure_told = false;
};
Spooler g_spool;

// Multiply, then divide with rounding half away from zero.
int mul_div(int a, int b, int c) {
  if (c == 0) return -1;
  const long long p = static_cast<long long>(a) * b;
  const long long q = (std::llabs(p) + std::llabs(c) / 2) / std::llabs(c);
  return static_cast<int>((p < 0) != (c < 0) ? -q : q);
}

std::string printer_to_open() {
  return g_spool.renderer_path ? g_spool.printer.substr(1) : g_spool.printer;
}

// Keeps the first reason only: what follows a failure is its consequence.
void job_failed_because(const std::string& why) {
  platform::debug_printf("spooler: %s\n", why.c_str());
  if (!g_spool.job_failed && !why.empty()) g_spool.why_not_printed = why;
  g_spool.job_failed = true;
}

void job_error(const std::string& what) {
  const std::string server = platform::last_print_error();
  job_failed_because(what + " failed" + (server.empty() ? "." : ": " + server));
}

// The box is shown from inside some screen's wait for input: that screen is
// put back as it was, since it does not know to redraw itself.  A live
// capture is not stopped for it; the notice waits for the capture to end.
void tell_print_failure() {
  if (g_spool.untold_failure.empty() || g_spool.telling || in_capture_mode()) return;
  g_spool.telling = true;
  const Bitmap* screen = screen_bitmap();
  const std::vector<std::uint32_t> under = screen ? screen->pixels : std::vector<std::uint32_t>{};
  show_message_box(nullptr, g_spool.untold_failure.c_str(), "Error", kMbOkOnly);
  if (Bitmap* now = screen_bitmap(); now && now->pixels.size() == under.size()) {
    now->pixels = under;
    mark_dirty(kDirtyWholeWindow);
  }
  g_spool.untold_failure.clear();
  g_spool.telling = false;
}

void close_job_file() {
  if (g_spool.job_file >= 0) platform::file_close(g_spool.job_file);
  g_spool.job_file = -1;
}

// The 2400 by 3150 raster (bottom-up, page colours) stretched onto a white
// page picture at the placement: enlarged by repeating pixels, reduced by
// averaging each pixel's box of raster pixels.
std::vector<std::uint8_t> compose_page(const std::uint8_t* raster, const PagePlacement& at,
                                       const platform::PageSize& page) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(page.width) * page.height * 3, 0xFF);
  if (at.width <= 0 || at.height <= 0) return rgb;
  std::uint32_t palette[kPageColours];
  for (int k = 0; k < kPageColours; ++k) palette[k] = page_palette_rgb(k);
  const auto colour = [&](std::uint8_t v) { return v < kPageColours ? palette[v] : 0u; };
  const int x0 = std::max(at.x, 0), x1 = std::min(at.x + at.width, page.width);
  const int y0 = std::max(at.y, 0), y1 = std::min(at.y + at.height, page.height);
  std::vector<int> sx0(static_cast<std::size_t>(std::max(x1 - x0, 0))), sx1(sx0.size());
  for (int dx = x0; dx < x1; ++dx) {
    const long long i = dx - at.x;
    const int a = static_cast<int>(i * kRasterWidth / at.width);
    sx0[dx - x0] = a;
    sx1[dx - x0] = std::max(a + 1, static_cast<int>((i + 1) * kRasterWidth / at.width));
  }
  for (int dy = y0; dy < y1; ++dy) {
    const long long j = dy - at.y;
    const int r0 = static_cast<int>(j * kRasterHeight / at.height);
    const int r1 = std::max(r0 + 1, static_cast<int>((j + 1) * kRasterHeight / at.height));
    std::uint8_t* out = &rgb[(static_cast<std::size_t>(dy) * page.width + x0) * 3];
    for (int dx = x0; dx < x1; ++dx, out += 3) {
      const int c0 = sx0[dx - x0], c1 = sx1[dx - x0];
      if (r1 - r0 == 1 && c1 - c0 == 1) {
        const std::uint32_t p = colour(raster[static_cast<std::size_t>(kRasterHeight - 1 - r0) * kRasterWidth + c0]);
        out[0] = static_cast<std::uint8_t>(p >> 16);
        out[1] = static_cast<std::uint8_t>(p >> 8);
        out[2] = static_cast<std::uint8_t>(p);
        continue;
      }
      unsigned long r = 0, g = 0, b = 0;
      for (int row = r0; row < r1; ++row) {
        const std::uint8_t* src = raster + static_cast<std::size_t>(kRasterHeight - 1 - row) * kRasterWidth;
        for (int c = c0; c < c1; ++c) {
          const std::uint32_t p = colour(src[c]);
          r += p >> 16 & 0xFF;
          g += p >> 8 & 0xFF;
          b += p & 0xFF;
        }
      }
      const unsigned long n = static_cast<unsigned long>(r1 - r0) * static_cast<unsigned long>(c1 - c0);
      out[0] = static_cast<std::uint8_t>((r + n / 2) / n);
      out[1] = static_cast<std::uint8_t>((g + n / 2) / n);
      out[2] = static_cast<std::uint8_t>((b + n / 2) / n);
    }
  }
  return rgb;
}

// Renders the job's page and sends its picture; false when no raster could
// be had (the step is then tried again).
bool print_rendered_page() {
  const std::vector<std::uint8_t>& job = g_spool.buffer;
  std::unique_ptr<std::uint8_t[]> raster(new (std::nothrow) std::uint8_t[kPageRasterBytes]);
  if (!raster) {
    if (!g_spool.raster_failure_noted) platform::debug_printf("spooler: no memory for the page raster; trying again\n");
    g_spool.raster_failure_noted = true;
    return false;
  }
  g_spool.raster_failure_noted = false;
  // The job file is the colour flag and the page; the buffer has one byte
  // more than the file.
  const std::size_t size = job.size() - 1;
  const int result = size >= 1 ? render_page_description(raster.get(), job.data() + 1, size - 1, job[0]) : kPageTooShort;
  if (result != kPageOk) {
    job_failed_because("The page could not be drawn (error " + std::to_string(result) + ").");
    return true;
  }
  const std::vector<std::uint8_t> rgb = compose_page(raster.get(), g_spool.placement, g_spool.page);
  raster.reset();
  const std::vector<std::uint8_t> png = platform::encode_png_rgb(rgb.data(), g_spool.page.width, g_spool.page.height, kPagePpi);
  if (png.empty()) {
    job_failed_because("The picture of the page could not be made.");
  } else if (!g_spool.job.write(png.data(), png.size())) {
    job_error("Sending the page to the printer");
  } else {
    g_spool.job_sent = true;
  }
  return true;
}

void step_print(PrintQueue& q) {
  if (q.printer_status != kPrinterOpen) {
    q.spooler_state = kSpoolNoPrinter;
    g_spool.slots_armed = true;
    q.changed = 1;
    return;
  }
  if (g_spool.renderer_path) {
    if (!print_rendered_page()) return;
  } else if (!g_spool.job_failed) {
    // The buffer's extra byte is not part of the job.
    if (g_spool.job.write(g_spool.buffer.data(), g_spool.buffer.size() - 1))
      g_spool.job_sent = true;
    else
      job_error("Sending the page to the printer");
  }
  q.spooler_state = kSpoolEndJob;
}

void step_start_job(PrintQueue& q) {
  const std::string file = print_job_file(q.current_slot);
  q.spooler_state = kSpoolRead;
  g_spool.job_failed = g_spool.job_sent = false;
  g_spool.why_not_printed.clear();
  if (!g_spool.open) {
    job_failed_because("No printer is open.");
    q.spooler_state = kSpoolEndJob;
    return;
  }
  bool started;
  if (g_spool.renderer_path) {
    read_page_margins();
    g_spool.page = platform::default_page_size(printer_to_open(), kPagePpi);
    g_spool.placement = place_page(kPagePpi, kPagePpi, 0, 0, g_spool.margins);
    started = g_spool.job.start(printer_to_open(), kDocumentName, platform::DocumentFormat::kPng, kPagePpi);
  } else {
    started = g_spool.job.start(printer_to_open(), kDocumentName, platform::DocumentFormat::kRaw);
  }
  if (!started) job_error("Starting the print job on " + printer_to_open());
  g_spool.job_file = platform::file_open(file, platform::OpenMode::kRead);
  const long long size = g_spool.job_file >= 0 ? platform::file_length(g_spool.job_file) : -1;
  if (size < 0) job_failed_because("The job file " + file + " could not be read.");
  if (!started || size < 0) {
    q.spooler_state = kSpoolEndJob;
    return;
  }
  // Sized for this job: a buffer kept from a smaller one would overflow.
  g_spool.buffer.assign(static_cast<std::size_t>(size) + 1, 0);
}

void step_read(PrintQueue& q) {
  const std::size_t size = g_spool.buffer.empty() ? 0 : g_spool.buffer.size() - 1;
  const long long n = g_spool.job_file >= 0 ? platform::file_read(g_spool.job_file, g_spool.buffer.data(), size) : -1;
  q.spooler_state = n >= 0 && static_cast<std::size_t>(n) == size ? kSpoolPrint : kSpoolEndJob;
  if (q.spooler_state == kSpoolEndJob) job_failed_because("The job file " + print_job_file(q.current_slot) + " could not be read whole.");
}

void step_end_job(PrintQueue& q) {
  g_spool.buffer = {};
  close_job_file();
  if (g_spool.job.is_open()) {
    // An unprinted job is withdrawn rather than sent empty or cut short.
    if (g_spool.job_failed || !g_spool.job_sent)
      g_spool.job.cancel();
    else if (!g_spool.job.finish())
      job_error("Ending the print job");
  }
  // The slot still ends done, as a job file that cannot be read does, but
  // the operator learns that the page needs printing again; its job file is
  // left where it is.
  if (g_spool.job_failed || !g_spool.job_sent) {
    if (!g_spool.job_failed) job_failed_because("Nothing was sent to the printer.");
    if (!g_spool.page_failure_told) g_spool.untold_failure = "The page was not printed.\r" + g_spool.why_not_printed;
    g_spool.page_failure_told = true;
  }
  PrintSlot& slot = q.slots[q.current_slot];
  slot.state = kSlotDone;
  if (slot.copies > 0) --slot.copies;
  if (slot.copies > 0) slot.state = kSlotQueued;
  else g_spool.page_failure_told = false;
  q.changed = 1;
  q.spooler_state = kSpoolNext;
}

void step_next(PrintQueue& q) {
  const int start = q.current_slot >= 0 && q.current_slot < kPrintSlots ? q.current_slot : 0;
  int slot = start;
  do {
    if (q.slots[slot].state == kSlotQueued) {
      q.slots[slot].state = kSlotPrinting;
      q.current_slot = static_cast<std::int8_t>(slot);
      q.changed = 1;
      q.spooler_state = kSpoolStartJob;
      return;
    }
    slot = (slot + 1) % kPrintSlots;
  } while (slot != start);
  q.spooler_state = kSpoolIdle;
}

int registry_number(const char* name, int fallback) {
  const auto value = platform::registry_value(kMarginsKey, name);
  if (!value || value->empty()) return fallback;
  char* end = nullptr;
  const long n = std::strtol(value->c_str(), &end, 0);
  if (*end != 0 || n < -1000000 || n > 1000000) return fallback;
  return static_cast<int>(n);
}

bool ask_default_printer() {
  const bool plus = g_spool.printer == "+";
  for (;;) {
    char name[kNameRoom] = {};
    int length = plus ? static_cast<int>(kNameRoom) - 1 : static_cast<int>(kNameRoom);
    if (get_default_printer_name(plus ? name + 1 : name, &length)) {
      if (plus) name[0] = '+';
      g_spool.printer = name;
      return true;
    }
    const int answer = show_message_box(nullptr,
                                        "Unable to get default printer.\rPress Cancel to go on without printing.\r"
                                        "If this is the first time connecting\ryour printer, wait and then press Retry.",
                                        "Error", kMbRetryCancel);
    g_spool.printer.clear();
    g_spool.open = false;
    if (answer != kMbRetry) return false;
    g_spool.printer = plus ? "+" : "";
  }
}

}  // namespace

int get_default_printer_name(char* buffer, int* length) {
  if (!buffer || !length || *length <= 0) return 0;
  const auto name = platform::default_printer();
  if (!name) return 0;
  const int needed = static_cast<int>(name->size()) + 1;
  if (needed > *length) {
    *length = needed;
    return 0;
  }
  std::memcpy(buffer, name->c_str(), name->size() + 1);
  *length = needed;
  return 1;
}

int open_default_printer() {
  PrintQueue& q = *get_print_queue();
  q.spooler_state = kSpoolNotStarted;
  q.reserved = 0;
  g_spool.buffer = {};
  reset_print_slots();
  const HardwareSettings& hw = hardware_settings();
  g_spool.printer.assign(hw.print_control, ::strnlen(hw.print_control, sizeof hw.print_control));
  if (g_spool.printer.empty() || g_spool.printer == "+") ask_default_printer();
  if (!g_spool.open && !g_spool.printer.empty()) {
    g_spool.renderer_path = g_spool.printer[0] == '+';
    g_spool.open = platform::printer_exists(printer_to_open());
  }
  q.printer_status = g_spool.open ? kPrinterOpen : 0;
  if (!g_spool.open) {
    // Without a printer the spooler parks with the queue emptied, and the
    // print screen offers no printing.
    q.spooler_state = kSpoolNoPrinter;
    g_spool.slots_armed = true;
    show_message_box(nullptr, "Printer not found. Unable to print.", "Error", 0);
  }
  return q.printer_status;
}

void close_printer() {
  PrintQueue& q = *get_print_queue();
  if (q.spooler_state == kSpoolPrint || q.spooler_state == kSpoolNoPrinter || q.spooler_state == kSpoolRead)
    q.spooler_state = kSpoolEndJob;
  // A job half-way through is withdrawn, not left open on the server.
  if (g_spool.job.is_open()) g_spool.job.cancel();
  close_job_file();
  g_spool.buffer = {};
  g_spool.open = false;
}

void step_print_spooler() {
  if (!g_spool.untold_failure.empty()) {
    tell_print_failure();
    return;
  }
  PrintQueue& q = *get_print_queue();
  if (q.spooler_state == 7) {
    q.spooler_state = 13;
    return;
  }
  if (q.spooler_state & 8) return;
  switch (q.spooler_state) {
    case kSpoolPrint: step_print(q); break;
    case kSpoolNoPrinter:
      if (g_spool.slots_armed) reset_print_slots();
      if ((q.printer_status & 0x38) == 0x18) q.spooler_state = kSpoolNext;
      break;
    case kSpoolStartJob: step_start_job(q); break;
    case kSpoolRead: step_read(q); break;
    case kSpoolEndJob: step_end_job(q); break;
    case kSpoolNext: step_next(q); break;
    case kSpoolIdle: q.current_slot = 0; break;
    default: break;
  }
  tell_print_failure();
}

bool printing_through_renderer() { return g_spool.renderer_path; }

bool print_spooler_busy() {
  const int s = get_print_queue()->spooler_state;
  return s == kSpoolPrint || (s >= kSpoolStartJob && s <= kSpoolNext);
}

void reset_print_slots() {
  if (!g_spool.slots_armed) return;
  g_spool.slots_armed = false;
  g_spool.page_failure_told = false;  // no page is under way any more
  PrintQueue& q = *get_print_queue();
  for (PrintSlot& s : q.slots) s = PrintSlot{0, kSlotFree};
}

const PageMargins& read_page_margins() {
  if (g_spool.margins_read) return g_spool.margins;
  g_spool.margins_read = true;
  PageMargins& m = g_spool.margins;
  m.left = registry_number("page.left", m.left);
  m.top = registry_number("page.top", m.top);
  m.bottom = registry_number("page.bottom", m.bottom);
  m.right = registry_number("page.right", m.right);
  m.scale_x = registry_number("print.scalex", m.scale_x);
  m.scale_y = registry_number("print.scaley", m.scale_y);
  return m;
}

PagePlacement place_page(int px, int py, int ox, int oy, const PageMargins& m) {
  PagePlacement p;
  p.width = mul_div(mul_div(kRasterWidth, px, 300), m.scale_x, 10000);
  p.height = mul_div(mul_div(kRasterHeight, py, 300), m.scale_y, 10000);
  p.x = std::max(mul_div(px, m.left, 1000), ox) - ox;
  p.y = std::max(mul_div(py, m.top, 1000), oy) - oy;
  return p;
}

void reset_spooler_for_tests(bool renderer_path) {
  close_printer();
  g_spool.printer.clear();
  g_spool.renderer_path = renderer_path;
  g_spool.slots_armed = true;
  g_spool.margins_read = false;
  g_spool.margins = PageMargins{};
  g_spool.untold_failure.clear();
  g_spool.telling = false;
  g_spool.page_failure_told = false;
  *get_print_queue() = PrintQueue{};
  platform::reset_print_server();
}

}  // namespace vaslab
