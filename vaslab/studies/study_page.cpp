#include "vaslab/studies/study_page.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "platform/file_io.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "vaslab/core/settings/settings.h"

namespace vaslab {

#define LOAD(f) p.f = platform::le_load<decltype(p.f)>(in + offsetof(StudyPage, f))
#define STORE(f) platform::le_store(out + offsetof(StudyPage, f), p.f)
#define LOAD_BYTES(f) std::memcpy(p.f, in + offsetof(StudyPage, f), sizeof p.f)
#define STORE_BYTES(f) std::memcpy(out + offsetof(StudyPage, f), p.f, sizeof p.f)
#define PAGE_FIELDS(F, B)                                                               \
  B(template_name); F(flags); F(count); F(report_start); F(newest); F(baseline);        \
  F(point_1); F(point_2); F(gain); F(filter_code); F(status); F(probe); B(short_text);  \
  B(text); F(save_time)

void encode_study_page(const StudyPage& p, std::uint8_t* out) {
  PAGE_FIELDS(STORE, STORE_BYTES);
  for (int i = 0; i < PAGE_SAMPLES; ++i) {
    platform::put_s16le(out + offsetof(StudyPage, channel_1) + 2 * i, p.channel_1[i]);
    platform::put_s16le(out + offsetof(StudyPage, channel_2) + 2 * i, p.channel_2[i]);
  }
}

void decode_study_page(const std::uint8_t* in, StudyPage& p) {
  PAGE_FIELDS(LOAD, LOAD_BYTES);
  for (int i = 0; i < PAGE_SAMPLES; ++i) {
    p.channel_1[i] = platform::get_s16le(in + offsetof(StudyPage, channel_1) + 2 * i);
    p.channel_2[i] = platform::get_s16le(in + offsetof(StudyPage, channel_2) + 2 * i);
  }
  p.template_name[sizeof p.template_name - 1] = '\0';
  p.text[sizeof p.text - 1] = '\0';
}

#undef PAGE_FIELDS
#undef LOAD
#undef STORE
#undef LOAD_BYTES
#undef STORE_BYTES

std::string page_file_name(int step, int exam_id) {
  return std::string(hardware_settings().data_directory) + std::to_string(step) + "." +
         std::to_string(exam_id);
}

bool page_samples_valid(const StudyPage& p) {
  if (p.count < 0 || p.count > PAGE_SAMPLES) return false;
  if (p.newest < p.report_start) return false;
  if (p.report_start >= p.count) return false;
  // Negative indexes would pass the comparisons above and then index the
  // ring out of bounds.
  if (p.count > 0 && (p.newest < 0 || p.newest >= p.count)) return false;
  return true;
}

int read_study_page(int step, int exam_id, const std::string& template_base, StudyPage& page,
                    bool check_samples) {
  const std::string path = platform::map_path(page_file_name(step, exam_id));
  auto size = platform::file_size(path);
  if (!size) return 1;
  if (*size != STUDY_PAGE_BYTES) return 1;
  auto bytes = platform::read_file(path, STUDY_PAGE_BYTES);
  if (!bytes) return 1;
  if (bytes->size() < STUDY_PAGE_BYTES) return 4;
  decode_study_page(bytes->data(), page);
  if (template_base != page.template_name) return 1;
  if (check_samples && !(page.flags & kPageDeletedSide) && !page_samples_valid(page)) return 1;
  page.flags = 0;
  return 0;
}

int write_study_page(int step, int exam_id, StudyPage& page) {
  page.save_time = static_cast<std::int32_t>(std::time(nullptr));
  std::uint8_t buf[STUDY_PAGE_BYTES];
  encode_study_page(page, buf);
  // The data directory is made by the study store; a missing one (the USB
  // drive pulled) must fail here, not be created again.
  const std::string path = platform::map_path(page_file_name(step, exam_id));
  return platform::write_file_atomic(path, buf, sizeof buf, 0600) == 0 ? 0 : 4;
}

void delete_study_page(int step, int exam_id) {
  ::unlink(platform::map_path(page_file_name(step, exam_id)).c_str());
}

void shown_output(const StudyPage& p, char* out, std::size_t size) {
  if (!out || size == 0) return;
  if (p.short_text[0]) {
    std::snprintf(out, size, "%.*s", static_cast<int>(sizeof p.short_text - 1), p.short_text);
    return;
  }
  const bool in_ring = p.count > 0 && p.newest >= 0 && p.newest < PAGE_SAMPLES;
  std::snprintf(out, size, "%d", in_ring ? p.channel_2[p.newest] & 0x1FF : 0);
}

}  // namespace vaslab
