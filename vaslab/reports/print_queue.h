// The print queue: 99 slots of report pages waiting for the spooler, the job
// files C:\TEMP\NN.PRT made for them.  Queueing never waits for paper: the spooler prints a small step per pass
// of the event wait.
#pragma once

#include <cstdint>
#include <string>

namespace vaslab {

constexpr int kPrintSlots = 99;

// Slot states.
constexpr std::uint8_t kSlotFree = 0;
constexpr std::uint8_t kSlotQueued = 1;
constexpr std::uint8_t kSlotPrinting = 2;
constexpr std::uint8_t kSlotDone = 3;

struct PrintSlot {
  std::uint8_t copies;
  std::uint8_t state;
};

struct PrintQueue {
  std::uint8_t reserved;
  std::int8_t current_slot;
  std::uint8_t changed;  // the spooler changed a slot since the flag was cleared
  std::int8_t spooler_state;
  std::uint8_t printer_status;  // 0x98 while a printer is open
  PrintSlot slots[kPrintSlots];
};

// The one queue of the run.
PrintQueue* get_print_queue();

// From the current slot upward, wrapping from 98 to 0: the first free or
// done slot, or -1 when the search comes back to its start.
int find_free_print_slot();

// "C:\TEMP\NN.PRT" of a slot.
std::string print_job_file(int slot);

// Makes the slot's job file from the page file at `source` (a Windows path):
// through the print processor when the printer is driven raw, else a flag
// byte (1 colour) and a copy of the page.  0 on success; otherwise the
// message line says "pproc error:..." and the result is not 0.
int start_print_processor(int slot, const std::string& source, bool colour);

// A queued slot wakes an idle spooler.
void wake_print_spooler();

// Takes a free slot for the page at `source` (a Windows path) and queues it
// for `copies` copies; false (the message line set, the slot left free) when
// that failed.
bool queue_page(const std::string& source, int copies, bool colour);

// Queues a page file of the data directory: one copy, mono.  0, or -1 with
// the message shown.
int queue_print_file(const char* file_name);

}  // namespace vaslab
