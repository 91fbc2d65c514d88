// The dual modules' template records and page pair files.
#include "vaslab/studies/dual_pair.h"

#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/studies/dual_pair_internal.h"
#include "vaslab/studies/study_page.h"
#include "vaslab/studies/study_template.h"

namespace vaslab::dual_pair_internal {
namespace {

template <typename Step>
void common_fields(const Step& s, Record& r) {
  r.step_class = s.step_class;
  std::memcpy(r.label, s.label, sizeof r.label);
  r.gain_flags = s.gain_flags;
  r.gain = s.gain;
  r.filter_code = s.filter_code;
  r.baseline_flags = s.baseline_flags;
  r.baseline = s.baseline;
  r.cuff_select = s.cuff_select;
  r.show_stopwatch = s.show_stopwatch;
  r.second_scale = s.second_scale;
}

}  // namespace

int read_record(DualKind kind, const std::string& path, int step, Record& r) {
  std::uint8_t buf[kDualPvrPrefix];
  r = Record{};
  if (kind == DualKind::kPpg) {
    if (!read_template_record(path, step, kDualPpgPrefix, buf)) return kResultError;
    DualPpgStep s{};
    decode_dual_ppg_step(buf, s);
    common_fields(s, r);
    r.nibble = s.filter_nibble;
    r.window = s.window;
  } else if (kind == DualKind::kPressure) {
    if (!read_template_record(path, step, kDualPressurePrefix, buf)) return kResultError;
    DualPressureStep s{};
    decode_dual_pressure_step(buf, s);
    common_fields(s, r);
    r.options = s.options;
    r.inflate_mode = s.inflate_mode;
    r.inflate_target = s.inflate_target;
    r.deflate_mode = s.deflate_mode;
    r.deflate_target = s.deflate_target;
    r.over_range = s.over_range;
    r.old_numbering = s.old_numbering;
  } else {
    if (!read_template_record(path, step, kDualPvrPrefix, buf)) return kResultError;
    DualPvrStep s{};
    decode_dual_pvr_step(buf, s);
    common_fields(s, r);
    r.inflate_mode = s.inflate_mode;
    r.inflate_target = s.inflate_target;
    r.deflate_mode = s.deflate_mode;
    r.over_range = s.over_range;
    r.nibble = s.filter_nibble;
    r.window = s.window;
    r.alt_target = s.alt_target;
  }
  return r.step_class == kStudyStepClass ? 0 : kResultError;
}

int old_gain(int g) {
  switch (g) {
    case 0: return 3;
    case 2: return 5;
    case 4: return 7;
    case 6: return 9;
    default: return 10;
  }
}

}  // namespace vaslab::dual_pair_internal

namespace vaslab {
namespace {

constexpr int kBlockBytes = static_cast<int>(EXTENDED_WAVEFORM_BYTES);

// --- Page files ------------------------------------------------------------------

// Reads one page keeping its flags; `left` adds the LEFT page's rule.
int read_pair_page(int step, int exam_id, const std::string& base, StudyPage& page, bool left) {
  const std::string path = platform::map_path(page_file_name(step, exam_id));
  const auto size = platform::file_size(path);
  if (!size || *size != STUDY_PAGE_BYTES) return 1;
  auto bytes = platform::read_file(path, STUDY_PAGE_BYTES);
  if (!bytes) return 1;
  if (bytes->size() < STUDY_PAGE_BYTES) return kResultError;
  decode_study_page(bytes->data(), page);
  if (base != page.template_name) return 1;
  if (page.flags & kPageDeletedSide) return 0;
  if (!page_samples_valid(page)) return 1;
  if (left && page.newest >= page.count) return 1;
  return 0;
}

// The bytes to write for a page: its waveform block comes along from the old
// file when the flags claim it, else the claim is dropped.
std::vector<std::uint8_t> page_bytes(const StudyPage& page, const std::string& old_path) {
  std::vector<std::uint8_t> out(STUDY_PAGE_BYTES);
  encode_study_page(page, out.data());
  if (!(page.flags & kPageExtendedBlock)) return out;
  const auto size = platform::file_size(old_path);
  if (size && *size >= STUDY_PAGE_BYTES + EXTENDED_WAVEFORM_BYTES) {
    out.resize(STUDY_PAGE_BYTES + EXTENDED_WAVEFORM_BYTES);
    if (platform::read_file_at(old_path, STUDY_PAGE_BYTES, out.data() + STUDY_PAGE_BYTES, kBlockBytes)) return out;
    out.resize(STUDY_PAGE_BYTES);
  }
  out[offsetof(StudyPage, flags)] = static_cast<std::uint8_t>(page.flags & ~kPageExtendedBlock);
  return out;
}

}  // namespace

// --- Page pairs ----------------------------------------------------------------------

int read_page_pair(int step, int exam_id, const std::string& base, StudyPage& right, StudyPage& left) {
  const int r = read_pair_page(step, exam_id, base, right, false);
  if (r != 0) return r;
  return read_pair_page(step + 1, exam_id, base, left, true);
}

int write_page_pair(int step, int exam_id, const StudyPage& right, const StudyPage& left) {
  const std::string paths[2] = {platform::map_path(page_file_name(step, exam_id)),
                                platform::map_path(page_file_name(step + 1, exam_id))};
  const StudyPage* pages[2] = {&right, &left};
  std::string temps[2];
  for (int i = 0; i < 2; ++i) {
    const auto bytes = page_bytes(*pages[i], paths[i]);
    temps[i] = paths[i] + ".pair.tmp~";
    if (platform::write_file_atomic(temps[i], bytes.data(), bytes.size(), 0600) != 0) {
      for (int j = 0; j <= i; ++j) ::unlink(temps[j].c_str());
      return kResultError;
    }
  }
  for (int i = 0; i < 2; ++i) {
    if (platform::rename_file(temps[i], paths[i]) != 0) {
      for (int j = i; j < 2; ++j) ::unlink(temps[j].c_str());
      return kResultError;
    }
  }
  return 0;
}

void delete_page_pair(int step, int exam_id) {
  delete_study_page(step, exam_id);
  delete_study_page(step + 1, exam_id);
}

}  // namespace vaslab
