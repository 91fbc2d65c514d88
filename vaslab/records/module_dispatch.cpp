#include "vaslab/records/module_dispatch.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/failure_cause.h"
#include "platform/paths.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/records/export_screen.h"
#include "vaslab/records/temp_studies.h"
#include "vaslab/records/worklist_import.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/studies/module_entries.h"
#include "vaslab/studies/study_template.h"

namespace vaslab {
namespace {

enum class Kind { kStudy, kReport, kExport, kWorklist };

struct ModuleSlot {
  const char* path;
  Kind kind;
  ModuleEntry own;
  ModuleEntry current;
};

// Export modules are listed in the order their prefixes are tried.
ModuleSlot g_modules[] = {
    {"C:\\PROGRAMS\\DUALPPG", Kind::kStudy, dualppg_main, dualppg_main},
    {"C:\\PROGRAMS\\DUALPVR", Kind::kStudy, dualpvr_main, dualpvr_main},
    {"C:\\PROGRAMS\\DOPPLER", Kind::kStudy, doppler_main, doppler_main},
    {"C:\\PROGRAMS\\DUALPRES", Kind::kStudy, dualpres_main, dualpres_main},
    {"C:\\PROGRAMS\\ONEPRES", Kind::kStudy, onepres_main, onepres_main},
    {"C:\\PROGRAMS\\LINEEDIT", Kind::kStudy, lineedit_main, lineedit_main},
    {"C:\\PROGRAMS\\TIMER", Kind::kStudy, timer_main, timer_main},
    {"C:\\PROGRAMS\\IPROC", Kind::kReport, generate_report, generate_report},
    {"C:\\PROGRAMS\\SPRINT", Kind::kReport, generate_page_report, generate_page_report},
    {"C:\\PROGRAMS\\DICOM", Kind::kExport, run_dicom_export, run_dicom_export},
    {"C:\\PLUS\\ZELMAR", Kind::kExport, run_zelmar_export, run_zelmar_export},
    {"C:\\PROGRAMS\\DELIMEX", Kind::kExport, run_delimited_export, run_delimited_export},
    {"C:\\PROGRAMS\\RAVIRIZ", Kind::kExport, run_viewer_export, run_viewer_export},
    {"C:\\PROGRAMS\\SMTPEX", Kind::kExport, run_email_export, run_email_export},
    {"C:\\PROGRAMS\\VIVOVEV", Kind::kExport, run_pdf_export, run_pdf_export},
    {"C:\\PROGRAMS\\DICOMMWL", Kind::kWorklist, dicommwl_main, dicommwl_main},
};

ViewEntry g_view = vproc_main;

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && platform::same_name(text.substr(0, prefix.size()), prefix);
}

// Owns the argument strings for one call, so that nothing the module does to
// them reaches the caller's texts.
class Argv {
 public:
  explicit Argv(std::initializer_list<std::string> args) : text_(args) {
    for (auto& s : text_) ptrs_.push_back(s.data());
    ptrs_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(text_.size()); }
  char** argv() { return ptrs_.data(); }

 private:
  std::vector<std::string> text_;
  std::vector<char*> ptrs_;
};

std::string decimal(int value) { return std::to_string(static_cast<std::int16_t>(value)); }

std::string cut(const char* text, std::size_t max) {
  std::string s = text ? text : "";
  if (s.size() > max) s.resize(max);
  return s;
}

int call(ModuleEntry entry, Argv& args) {
  return static_cast<std::int16_t>(entry(args.argc(), args.argv()));
}

}  // namespace

ModuleEntry find_module(std::string_view path) {
  for (const auto& m : g_modules)
    if (path == m.path) return m.current;
  return nullptr;
}

ModuleEntry find_export_module(std::string_view program) {
  for (const auto& m : g_modules)
    if (m.kind == Kind::kExport && starts_with_nocase(program, m.path)) return m.current;
  return nullptr;
}

ModuleEntry set_module(std::string_view path, ModuleEntry entry) {
  for (auto& m : g_modules) {
    if (path != m.path) continue;
    ModuleEntry old = m.current;
    m.current = entry ? entry : m.own;
    return old;
  }
  return nullptr;
}

ViewEntry set_view_module(ViewEntry entry) {
  ViewEntry old = g_view;
  g_view = entry ? entry : vproc_main;
  return old;
}

int set_result_message(const char* prefix, int result) {
  const char* text = "";
  char dos[80];
  switch (result) {
    case -1: {
      // The system's own text of the error: its number alone would name
      // another cause on the instrument's system than here.
      const int error = errno;
      std::snprintf(dos, sizeof dos, "DOS: %s.", error != 0 ? std::strerror(error) : "unknown error");
      text = dos;
      result = -error;
      break;
    }
    case 1: text = "Internal error."; break;
    case 9: text = "No patient name, etc..."; break;
    case 10: text = "No waveforms or pressures."; break;
    case 11: text = "File error."; break;
    default: break;
  }
  // The file or folder and the system error a module noted follow the
  // shared text, which alone would send the operator the wrong way.  Such a
  // failure is a file's: a text naming a fault of the study's data would
  // send them the wrong way too.
  std::string cause = platform::take_failure_cause();
  if (result != 0 && !cause.empty()) {
    cause.insert(0, " ");
    if (result == 9 || result == 10) text = "File error.";
  } else {
    cause.clear();
  }
  std::snprintf(g_message_text, sizeof g_message_text, "%s%s%s", prefix ? prefix : "", text, cause.c_str());
  return result;
}

std::string strip_extension(std::string_view name) {
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos) return std::string(name);
  if (name.find_first_of("\\/", dot) != std::string_view::npos) return std::string(name);
  return std::string(name.substr(0, dot));
}

int run_step_module(int type, int first, int count, int current) {
  const std::string_view path = module_program_path(type);
  if (path.empty()) return 0;
  if (type == 1 || type == 5 || type == 11) current -= (first ^ current) & 1;
  return run_legacy_program(std::string(path).c_str(), current_template_number(),
                            current_exam_id(), first, count, current);
}

int run_legacy_program(const char* path, const char* template_number, const char* exam_id,
                       int first, int count, int current) {
  if (!path) return -1;
  const ModuleEntry entry = find_module(path);
  bool study = false;
  for (const auto& m : g_modules)
    if (m.kind == Kind::kStudy && std::strcmp(path, m.path) == 0) study = true;
  if (!entry || !study) return -1;
  Argv args{path, template_number ? template_number : "", exam_id ? exam_id : "",
            decimal(first), decimal(count), decimal(current)};
  return call(entry, args);
}

int run_iproc(const char* file_name) {
  set_result_message("iproc error:", 0);
  Argv args{"C:\\PROGRAMS\\IPROC", strip_extension(file_name ? file_name : "")};
  const int result = call(find_module("C:\\PROGRAMS\\IPROC"), args);
  return set_result_message("iproc error:", result);
}

int run_sprint(const char* file_name, int step) {
  set_result_message("iproc error:", 0);
  Argv args{"C:\\PROGRAMS\\SPRINT", strip_extension(file_name ? file_name : ""), decimal(step)};
  const int result = call(find_module("C:\\PROGRAMS\\SPRINT"), args);
  return set_result_message("iproc error:", result);
}

int run_export_program(const char* file_name) {
  set_result_message("export error:", 0);
  const std::string program = cut(export_control(), 63);
  const std::string path = cut(export_path(), 63);
  const ModuleEntry entry = find_export_module(program);
  if (program.empty() || path.empty() || !entry) return set_result_message("export error:", 11);
  Argv args{program, strip_extension(file_name ? file_name : ""), path,
            std::to_string(export_option_byte())};
  return set_result_message("export error:", call(entry, args));
}

int run_vproc(const char* file_name, int in_data_directory) {
  const auto& hw = hardware_settings();
  std::string full = in_data_directory ? hw.data_directory : hw.archive_path_1;
  full += file_name ? file_name : "";
  const int colour = (hw.view_printout & 1) ? 0 : 1;
  Argv args{"C:\\PROGRAMS\\VPROC", full};
  int result = static_cast<std::int16_t>(g_view(args.argc(), args.argv(), colour));
  if (result == -1) result = -errno;
  return result;
}

}  // namespace vaslab
