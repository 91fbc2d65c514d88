// The system's print spooler: CUPS, reached through libcups at the server
// CUPS_SERVER names (the user's or the machine's default otherwise).  The
// workstation drives one job at a time, a small step per call, so every call
// here is one request to the server and returns at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The default destination's name; nullopt when the server names none or
// cannot be reached.
std::optional<std::string> default_printer();
// True when the server knows the destination.
bool printer_exists(const std::string& name);

// The default media of a destination in pixels at `dpi`; US Letter when the
// queue states none (a raw queue does not).
struct PageSize {
  int width = 0;
  int height = 0;
};
PageSize default_page_size(const std::string& printer, int dpi);

enum class DocumentFormat { kRaw, kPng };

// One job with one document.  Each call is one request; false (and
// last_print_error() says why) when the server refused it.
class PrintJob {
 public:
  PrintJob() = default;
  ~PrintJob();
  PrintJob(const PrintJob&) = delete;
  PrintJob& operator=(const PrintJob&) = delete;

  // Creates the job and starts its only document.  A PNG document prints
  // at `ppi` pixels an inch, so that its pixels keep their size on paper.
  bool start(const std::string& printer, const std::string& title, DocumentFormat format, int ppi = 0);
  bool write(const void* data, std::size_t size);
  // Ends the document; the job then prints.  Nothing is open afterwards.
  bool finish();
  // Withdraws an open job; nothing prints.
  void cancel();
  bool is_open() const { return job_id_ > 0; }

 private:
  std::string printer_;
  int job_id_ = 0;
};

std::string last_print_error();

// Forgets the connection and the server name, so that the next call reads
// CUPS_SERVER again (tests that start their own server).
void reset_print_server();

// An 8-bit RGB picture (rows top-down, 3 bytes a pixel) as a PNG file in
// memory, stating `ppi` pixels an inch; empty when it cannot be made.
std::vector<std::uint8_t> encode_png_rgb(const std::uint8_t* rgb, int width, int height, int ppi);

}  // namespace platform
