// Study-type identification of archived studies, and the copy of an archived
// patient's history into a new temporary study.
#pragma once

namespace vaslab {

// Copies the history of the archived study at `archived_path` into the
// temporary study `exam_id` of template `template_name`.  0 on success, 4 a
// file failure, 6 no memory, 9 an unusable archived study.
int update_study_history(const char* exam_id, const char* archived_path, const char* template_name);

}  // namespace vaslab
