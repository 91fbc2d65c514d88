// The printer choice and the print spooler.  At start the printer is chosen
// from the "Print Control: " setting: empty drives the default printer raw
// (the print processor's job file goes to it unchanged), "+" renders the
// page here and sends the default printer a picture of it, any other text
// names a printer to drive raw.  Afterwards every pass of the event wait
// advances the queue's job by one small step, so printing never holds up a
// screen.
#pragma once

#include <cstdint>
#include <string>

namespace vaslab {

constexpr std::uint8_t kPrinterOpen = 0x98;

// Spooler states kept in the print queue.
constexpr int kSpoolPrint = 0;
constexpr int kSpoolNoPrinter = 1;
constexpr int kSpoolStartJob = 2;
constexpr int kSpoolRead = 3;
constexpr int kSpoolEndJob = 4;
constexpr int kSpoolNext = 5;
constexpr int kSpoolIdle = 6;
constexpr int kSpoolNotStarted = 14;

// Chooses and opens the printer: kPrinterOpen, or 0 after telling the
// operator.  Also stored in the queue.
int open_default_printer();
// Ends or withdraws an open job, then lets the printer go.
void close_printer();
// Advances the print spooler by one step; every event-wait pass calls it.
void step_print_spooler();

// The default printer's name into `buffer` of `*length` bytes: 1, or 0 when
// there is none or it does not fit (`*length` then says what is needed).
int get_default_printer_name(char* buffer, int* length);

// The printer gets pictures rendered here rather than job files made by the
// print processor.
bool printing_through_renderer();
// A job is on its way: the event wait must keep stepping the spooler even
// while the operator does nothing.
bool print_spooler_busy();

// Sets every slot free with no copies; once until the spooler finds no
// printer again.
void reset_print_slots();

// Page margins (thousandths of an inch) and scales (hundredths of a percent)
// from the registry, read once a run.
struct PageMargins {
  int left = 250, top = 250, bottom = 250, right = 250;
  int scale_x = 10000, scale_y = 10000;
};
const PageMargins& read_page_margins();

// Where the 2400 by 3150 page lands on a printer page of `px` by `py` pixels
// an inch whose printable area starts `ox`, `oy` pixels in.
struct PagePlacement {
  int x = 0, y = 0, width = 0, height = 0;
};
PagePlacement place_page(int px, int py, int ox, int oy, const PageMargins& margins);

// Tests: forget the margins read and the printer chosen, and take the given
// path without a printer.
void reset_spooler_for_tests(bool renderer_path = false);

}  // namespace vaslab
