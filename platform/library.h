// Dynamic libraries named as the instrument named them.  "c:\programs\x.dll"
// is loaded at its mapped path with ".dll" replaced by ".so"; a bare name
// ("cdrvxd32" or "cdrvxd32.dll") is looked for in the library folder, which
// is the folder of the running program unless set otherwise (tests).  A
// Linux library name ("libgs.so.10", "/usr/lib/x/libz.so.1") is passed to
// dlopen() as it stands, and a Linux path of a ".dll" name (forward slashes
// only: "bin/ovrs232.dll") names the ".so" at that path.
#pragma once

#include <string>

namespace platform {

// The Linux file a library name stands for.
std::string library_file(const std::string& win_name);

// Loads a library; nullptr when it cannot be loaded.
void* load_library(const std::string& win_name);
// An entry point by name; nullptr when the library or the name is missing.
void* library_symbol(void* library, const char* name);
void free_library(void* library);

// The folder bare names are looked for in; empty restores the program's own.
void set_library_folder(const std::string& linux_dir);
const std::string& library_folder();

}  // namespace platform
