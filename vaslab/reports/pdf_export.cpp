#include "vaslab/reports/pdf_export.h"

#include <ghostscript/iapi.h>
#include <ghostscript/ierrors.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/library.h"
#include "platform/paths.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/fonts.h"
#include "vaslab/reports/export_args.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/reports/postscript_page.h"
#include "vaslab/reports/report_generator.h"

namespace vaslab {
namespace {

constexpr const char* kListFile = "c:\\temp\\vivoVEV.fil";
constexpr const char* kInfoFile = "c:\\temp\\exinfo";
constexpr const char* kPdfFile = "C:\\TEMP\\vivoVEV.PDF";
constexpr const char* kDefaultLibrary = "libgs.so.10";
constexpr std::size_t kListStringMax = 99;
constexpr std::size_t kKeptNameMax = 40;

std::string page_postscript_name(int page) {
  char name[32];
  std::snprintf(name, sizeof name, "c:\\temp\\my%02d.ps", page);
  return name;
}

// A string of the study information: at most `max` characters from `at`.
std::string info_field(const char* info, std::size_t at, std::size_t max) {
  return std::string(info + at, strnlen(info + at, max));
}

int add_study(const ExportArgs& args) {
  std::string program = "C:\\PROGRAMS\\IPROC", id = args.id_text;
  char* report_argv[] = {program.data(), id.data()};
  const int report = generate_report(2, report_argv);
  if (report != 0) return report;

  // name[30], type[30], date[21]; only 80 bytes are read, so the date keeps
  // at most 20 characters.  A missing file leaves the fields empty.
  char info[81] = {};
  const int in = platform::open_regular_file(platform::map_path(kInfoFile));
  if (in >= 0) {
    std::size_t got = 0;
    while (got < 80) {
      const long long n = platform::file_read(in, info + got, 80 - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    (void)platform::file_close(in);  // read only: nothing to lose
  }
  std::string record = data_directory_path() + args.id_text + ".pdf";
  record += '\0';
  record += info_field(info, 0, 29) + '\0';
  record += info_field(info, 30, 29) + '\0';
  record += info_field(info, 60, 20) + '\0';

  const int out = platform::file_open(kListFile, platform::OpenMode::kAppend);
  if (out < 0) {
    platform::note_failure_cause(kListFile, out);
    return kPdfListNotWritable;
  }
  const long long written = platform::file_write(out, record.data(), record.size());
  const int closed = platform::file_close(out);
  // A study missing from the list would be a page missing from the PDF.
  if (written == static_cast<long long>(record.size()) && closed == 0) return 0;
  platform::note_failure_cause(kListFile, written < 0 ? static_cast<int>(written) : closed < 0 ? closed : -EIO);
  return kPdfListNotWritable;
}

// Reads NUL-ended strings of the batch list; a longer string keeps its
// first 99 characters and the rest is passed over, so the records stay in
// step.
class ListReader {
 public:
  explicit ListReader(std::vector<std::uint8_t> data) : data_(std::move(data)) {}
  bool at_end() const { return pos_ >= data_.size(); }
  std::string next() {
    std::string s;
    while (pos_ < data_.size() && data_[pos_] != 0) {
      if (s.size() < kListStringMax) s += static_cast<char>(data_[pos_]);
      ++pos_;
    }
    ++pos_;
    return s;
  }

 private:
  std::vector<std::uint8_t> data_;
  std::size_t pos_ = 0;
};

// The name part of the PDF: upper case, each character outside the letters
// and ".,'-" made a point, trailing blanks dropped first.
std::string name_part(std::string name) {
  while (!name.empty() && name.back() == ' ') name.pop_back();
  for (char& c : name) {
    const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    c = (u >= 'A' && u <= 'Z') || std::strchr(".,'-", u) ? u : '.';
  }
  return name;
}

// The next number after those of the folder's files of this name part:
// each file's name without its extension ends in its number.
int next_file_number(const std::string& destination, const std::string& part) {
  int next = 0;
  for (const platform::FoundFile& f : platform::list_files(export_file(destination, part + "*"))) {
    std::string_view stem = f.name;
    if (const auto dot = stem.rfind('.'); dot != std::string_view::npos) stem = stem.substr(0, dot);
    std::size_t digits = stem.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(stem[digits - 1]))) --digits;
    int number = 0;
    for (const char c : stem.substr(digits)) number = std::min(number * 10 + (c - '0'), 1000000);
    next = std::max(next, number + 1);
  }
  return next;
}

int finish_batch(const ExportArgs& args) {
  const auto list = platform::read_file(platform::map_path(kListFile));
  if (!list) return kPdfListNotReadable;
  struct Study {
    std::string page, name;
  };
  std::vector<Study> studies;
  for (ListReader reader(*list); !reader.at_end();) {
    Study s;
    s.page = reader.next();
    s.name = reader.next();
    reader.next();  // study type
    reader.next();  // date
    studies.push_back(std::move(s));
  }
  // A batch Ghostscript is not given is not rendered first.
  const int pages = static_cast<int>(studies.size());
  if (pages < 1) return kPdfNoPages;
  if (pages > kPdfMaxPages) return kPdfTooManyPages;
  for (int page = 1; page <= pages; ++page)
    if (const int r = render_page_file_postscript(studies[page - 1].page, page_postscript_name(page), 1)) return r;
  std::string name = studies.back().name;
  if (name.size() > kKeptNameMax) name.resize(kKeptNameMax);

  if (const int r = make_pdf_with_ghostscript(pages)) return r;

  const std::string part = name_part(name);
  const int number = next_file_number(args.destination, part);
  if (number >= 1000) return kPdfNoNumberOrCopy;
  const std::string target = export_file(args.destination, part + std::to_string(number) + ".pdf");
  if (copy_export_file(kPdfFile, target, false) != 0) return kPdfNoNumberOrCopy;
  return 0;
}

// Ghostscript reads "%d" in an output file name as the page number.
std::string output_file_argument(const std::string& path) {
  std::string arg = "-sOutputFile#";
  for (const char c : path) {
    if (c == '%') arg += '%';
    arg += c;
  }
  return arg;
}

struct Ghostscript {
  decltype(&gsapi_new_instance) new_instance = nullptr;
  decltype(&gsapi_delete_instance) delete_instance = nullptr;
  decltype(&gsapi_exit) exit = nullptr;
  decltype(&gsapi_init_with_args) init_with_args = nullptr;
};

int bind(void* library, Ghostscript& gs) {
  gs.new_instance = reinterpret_cast<decltype(gs.new_instance)>(platform::library_symbol(library, "gsapi_new_instance"));
  if (!gs.new_instance) return kPdfNoNewInstance;
  gs.delete_instance =
      reinterpret_cast<decltype(gs.delete_instance)>(platform::library_symbol(library, "gsapi_delete_instance"));
  if (!gs.delete_instance) return kPdfNoDeleteInstance;
  gs.exit = reinterpret_cast<decltype(gs.exit)>(platform::library_symbol(library, "gsapi_exit"));
  if (!gs.exit) return kPdfNoExit;
  gs.init_with_args =
      reinterpret_cast<decltype(gs.init_with_args)>(platform::library_symbol(library, "gsapi_init_with_args"));
  if (!gs.init_with_args) return kPdfNoInitWithArgs;
  return 0;
}

int convert(const Ghostscript& gs, int page_count) {
  void* instance = nullptr;
  if (gs.new_instance(&instance, nullptr) < 0) return kPdfNoInstance;
  std::vector<std::string> args = {"gswin32c.exe", output_file_argument(platform::map_path(kPdfFile)),
                                   "-sDEVICE#pdfwrite", "-dBATCH", "-q", "-dNOPAUSE"};
  for (int page = 1; page <= page_count; ++page) args.push_back(platform::map_path(page_postscript_name(page)));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());

  int result = 0;
  // A run that ends by "quit" is a finished run too.
  const int init = gs.init_with_args(instance, static_cast<int>(argv.size()), argv.data());
  if (init != 0 && init != gs_error_Quit) result = kPdfConversionFailed;
  if (gs.exit(instance) != 0 && result == 0) result = kPdfExitFailed;
  gs.delete_instance(instance);
  return result;
}

}  // namespace

int make_pdf_with_ghostscript(int page_count) {
  if (page_count < 1) return kPdfNoPages;
  if (page_count > kPdfMaxPages) return kPdfTooManyPages;
  // Ghostscript finds fonts through fontconfig and leaves its state there.
  (void)start_fontconfig();  // without it Ghostscript starts it itself
  const char* name = std::getenv("VASLAB_GS_LIBRARY");
  void* library = platform::load_library(name && *name ? name : kDefaultLibrary);
  if (!library) return kPdfNoLibrary;
  Ghostscript gs;
  int result = bind(library, gs);
  if (result == 0) {
    // An older PDF of an earlier batch must not pass for this one.
    (void)platform::file_delete(kPdfFile);  // usually not there
    result = convert(gs, page_count);
  }
  platform::free_library(library);
  return result;
}

int run_pdf_export(int argc, char* argv[]) {
  // This module reads no option bit.
  ExportArgs args;
  if (const int r = parse_export_args(argc, argv, kNumberedExportIdLimit, args)) return r;
  return args.end ? finish_batch(args) : add_study(args);
}

}  // namespace vaslab
