#include "vaslab/records/worklist.h"

#include <unistd.h>

#include "platform/find.h"
#include "platform/paths.h"

namespace vaslab {
namespace {

char g_imported_name[30];
char g_imported_id[30];
char g_imported_third[21];

void delete_files_in(const char* folder) {
  for (const auto& f : platform::list_files(std::string(folder) + "*.*")) {
    if (f.attributes & platform::kAttrDirectory) continue;
    ::unlink(platform::map_path(std::string(folder) + f.name).c_str());
  }
}

}  // namespace

int worklist_control(int, char*) { return -1; }

void clear_imported_patient() {
  g_imported_name[0] = 0;
  g_imported_id[0] = 0;
  g_imported_third[0] = 0;
}

void purge_work_dirs() {
  delete_files_in("C:\\TEMP\\");
  delete_files_in("c:\\DATA\\");
}

}  // namespace vaslab
