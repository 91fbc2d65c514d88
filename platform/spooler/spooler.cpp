#include "platform/spooler.h"

#include <cups/cups.h>
#include <png.h>

#include <csetjmp>

namespace platform {

std::optional<std::string> default_printer() {
  const char* name = cupsGetDefault2(CUPS_HTTP_DEFAULT);
  if (!name || !*name) return std::nullopt;
  return std::string(name);
}

bool printer_exists(const std::string& name) {
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.c_str(), nullptr);
  if (!dest) return false;
  cupsFreeDests(1, dest);
  return true;
}

PageSize default_page_size(const std::string& printer, int dpi) {
  // Letter, 8.5 by 11 inches, in hundredths of a millimetre as CUPS gives it.
  int width = 21590, length = 27940;
  if (cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, printer.c_str(), nullptr)) {
    if (cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest)) {
      cups_size_t size{};
      if (cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, dest, info, 0, &size) && size.width > 0 && size.length > 0) {
        width = size.width;
        length = size.length;
      }
      cupsFreeDestInfo(info);
    }
    cupsFreeDests(1, dest);
  }
  const auto pixels = [dpi](int hundredths_mm) {
    return static_cast<int>((static_cast<long long>(hundredths_mm) * dpi + 1270) / 2540);
  };
  return PageSize{pixels(width), pixels(length)};
}

PrintJob::~PrintJob() {
  if (is_open()) cancel();
}

bool PrintJob::start(const std::string& printer, const std::string& title, DocumentFormat format, int ppi) {
  if (is_open()) cancel();
  cups_option_t* options = nullptr;
  int count = 0;
  if (format == DocumentFormat::kPng && ppi > 0) count = cupsAddOption("ppi", std::to_string(ppi).c_str(), count, &options);
  const int id = cupsCreateJob(CUPS_HTTP_DEFAULT, printer.c_str(), title.c_str(), count, options);
  cupsFreeOptions(count, options);
  if (id <= 0) return false;
  printer_ = printer;
  job_id_ = id;
  const char* mime = format == DocumentFormat::kPng ? "image/png" : CUPS_FORMAT_RAW;
  if (cupsStartDocument(CUPS_HTTP_DEFAULT, printer.c_str(), id, title.c_str(), mime, 1) != HTTP_STATUS_CONTINUE) {
    cancel();
    return false;
  }
  return true;
}

bool PrintJob::write(const void* data, std::size_t size) {
  if (!is_open()) return false;
  return cupsWriteRequestData(CUPS_HTTP_DEFAULT, static_cast<const char*>(data), size) == HTTP_STATUS_CONTINUE;
}

bool PrintJob::finish() {
  if (!is_open()) return false;
  job_id_ = 0;
  return cupsFinishDocument(CUPS_HTTP_DEFAULT, printer_.c_str()) == IPP_STATUS_OK;
}

void PrintJob::cancel() {
  if (!is_open()) return;
  const int id = job_id_;
  job_id_ = 0;
  // The document's upload may be half-way: dropping the connection ends it
  // unfinished, so that what was sent never reaches paper, and the job is
  // withdrawn over a new one.
  cupsSetServer(cupsServer());
  cupsCancelJob2(CUPS_HTTP_DEFAULT, printer_.c_str(), id, 0);
}

std::string last_print_error() {
  const char* text = cupsLastErrorString();
  return text ? text : "";
}

void reset_print_server() { cupsSetServer(nullptr); }

namespace {

void append_to_vector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void no_flush(png_structp) {}

}  // namespace

std::vector<std::uint8_t> encode_png_rgb(const std::uint8_t* rgb, int width, int height, int ppi) {
  std::vector<std::uint8_t> out;
  if (!rgb || width <= 0 || height <= 0) return out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return out;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return {};
  }
  png_set_write_fn(png, &out, append_to_vector, no_flush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (ppi > 0) {
    const auto per_metre = static_cast<png_uint_32>((ppi * 10000LL + 127) / 254);
    png_set_pHYs(png, info, per_metre, per_metre, PNG_RESOLUTION_METER);
  }
  // A page is mostly paper: the fastest compression already shrinks it a
  // hundredfold, and the spooler step that sends it must stay short.
  png_set_compression_level(png, 1);
  png_write_info(png, info);
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  for (int y = 0; y < height; ++y) png_write_row(png, const_cast<png_bytep>(rgb + stride * static_cast<std::size_t>(y)));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace platform
