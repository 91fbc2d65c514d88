#include "vaslab/records/temp_studies.h"

#include <cstdio>

namespace vaslab {
namespace {

char g_template_number[16];
char g_exam_id[8];

}  // namespace

const char* current_template_number() { return g_template_number; }
const char* current_exam_id() { return g_exam_id; }

void set_current_study(const char* template_number, const char* exam_id) {
  std::snprintf(g_template_number, sizeof g_template_number, "%s", template_number ? template_number : "");
  std::snprintf(g_exam_id, sizeof g_exam_id, "%s", exam_id ? exam_id : "");
}

}  // namespace vaslab
