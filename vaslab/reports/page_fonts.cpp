#include "vaslab/reports/page_fonts.h"

#include <unistd.h>

#include <algorithm>
#include <climits>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/reports/page_description.h"

namespace vaslab {

extern const std::uint8_t kBuiltinPageFonts[6][kPageFontBytes];

namespace {

constexpr const char* kFontNames[6] = {"cournor.fnt", "courbld.fnt", "gothnor.fnt",
                                       "gothbld.fnt", "compnor.fnt", "compbld.fnt"};

// The folder of the running program, with its trailing slash.
std::string program_folder() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

// A file read whole when it exists and has an acceptable size.
bool read_candidate(const std::string& linux_path, std::size_t exact_size, std::vector<std::uint8_t>& out) {
  const auto size = platform::file_size(linux_path);
  if (!size) return false;
  if (exact_size ? *size != exact_size : *size > kPagePictureMaxBytes) return false;
  auto data = platform::read_file(linux_path, static_cast<std::size_t>(*size));
  if (!data || data->size() != *size) return false;
  out = std::move(*data);
  return true;
}

}  // namespace

PageFileLoader::PageFileLoader() = default;
PageFileLoader::~PageFileLoader() = default;

std::span<const std::uint8_t> PageFileLoader::load(std::string_view name, std::size_t exact_size) {
  if (name.empty()) return {};
  for (const auto& e : cache_)
    if (platform::same_name(e->name, name) && (!exact_size || e->data.size() == exact_size)) return e->data;

  auto e = std::make_unique<Entry>();
  e->name = std::string(name);
  // The name is a plain file name: nothing in it may reach another folder.
  const bool plain = name.find_first_of("/\\:") == std::string_view::npos && name != "." && name != "..";
  if (plain && (read_candidate(platform::map_path("C:\\GRAPHIC\\" + e->name), exact_size, e->owned) ||
                read_candidate(program_folder() + e->name, exact_size, e->owned))) {
    e->data = e->owned;
  } else {
    e->data = builtin_page_font(name);
    if (e->data.empty() || (exact_size && e->data.size() != exact_size)) return {};
  }
  cache_.push_back(std::move(e));
  return cache_.back()->data;
}

void PageFileLoader::clear() { cache_.clear(); }

const char* page_font_name(int size, bool bold) {
  const int family = std::min(size & 3, 2);
  return kFontNames[family * 2 + (bold ? 1 : 0)];
}

int page_font_width(int size) {
  static constexpr int kWidths[4] = {30, 25, 18, 18};
  return kWidths[size & 3];
}

std::span<const std::uint8_t> builtin_page_font(std::string_view name) {
  for (int i = 0; i < 6; ++i)
    if (platform::same_name(name, kFontNames[i])) return {kBuiltinPageFonts[i], kPageFontBytes};
  return {};
}

PictureReader::PictureReader(std::span<const std::uint8_t> file) : data_(file) {
  if (data_.size() < 4) return;
  const unsigned w0 = data_[0] | (data_[1] << 8), w1 = data_[2] | (data_[3] << 8);
  pos_ = 4;
  width_ = static_cast<int>(w0 & 0x0FFF);
  height_ = static_cast<int>(w1 & 0x0FFF);
  const int a = page_colour(static_cast<int>((w0 >> 12) & 7));
  const int b = page_colour(static_cast<int>((w1 >> 12) & 7));
  if (!(w0 & 0x8000)) {
    colour_bits_ = 3;
    escape_ = 31;
    for (int i = 0; i < 8; ++i) colours_[i] = static_cast<std::uint8_t>(page_colour(i));
  } else if (!(w1 & 0x8000)) {
    colour_bits_ = 1;
    escape_ = 127;
    colours_[0] = 7;
    colours_[1] = static_cast<std::uint8_t>(a);
  } else {
    colour_bits_ = 2;
    escape_ = 63;
    colours_[0] = 7;
    colours_[1] = static_cast<std::uint8_t>(a);
    colours_[2] = static_cast<std::uint8_t>(b);
    colours_[3] = 0;
  }
  valid_ = true;
}

bool PictureReader::byte(std::uint8_t& b) {
  if (pos_ >= data_.size()) return false;
  b = data_[pos_++];
  return true;
}

bool PictureReader::count(int& value, int* budget) {
  for (;;) {
    std::uint8_t b;
    if (budget && *budget <= 0) return false;
    if (!byte(b)) return false;
    if (budget) --*budget;
    value += b;
    if (b != 255) return true;
  }
}

bool PictureReader::skip_row() {
  if (!valid_) return false;
  int n = 0;
  if (!count(n, nullptr)) return false;
  if (data_.size() - pos_ < static_cast<std::size_t>(n)) return false;
  pos_ += static_cast<std::size_t>(n);
  return true;
}

int PictureReader::read_row(int skip, int max, std::uint8_t* out) {
  if (!valid_) return -1;
  int n = 0;
  if (!count(n, nullptr)) return -1;
  if (data_.size() - pos_ < static_cast<std::size_t>(n)) return -1;
  const std::size_t row_end = pos_ + static_cast<std::size_t>(n);
  const int length_bits = 8 - colour_bits_;
  int written = 0;
  while (n > 0 && written < max) {
    std::uint8_t b;
    byte(b);
    --n;
    const std::uint8_t colour = colours_[b >> length_bits];
    int length = b & ((1 << length_bits) - 1);
    // An escape whose continuation runs past the row keeps what it summed.
    if (length == escape_) count(length, &n);
    int pixels = length + 1;
    if (skip > 0) {
      const int dropped = std::min(skip, pixels);
      skip -= dropped;
      pixels -= dropped;
    }
    for (; pixels > 0 && written < max; --pixels) out[written++] = colour;
  }
  pos_ = row_end;
  return written;
}

std::span<const std::uint8_t> pressure_frame_picture() {
  static const std::vector<std::uint8_t> kFrame = [] {
    constexpr int kWidth = 138, kHeight = 72, kSide = 9;
    // Two-colour coding, colour A = index 1.
    std::vector<std::uint8_t> f = {kWidth & 0xFF, 0x80 | (1 << 4) | (kWidth >> 8), kHeight, 0};
    for (int row = 0; row < kHeight; ++row) {
      if (row < kSide || row >= kHeight - kSide) {
        // 138 frame pixels: the escape 127 and 10 more.
        f.insert(f.end(), {2, 0xFF, kWidth - 1 - 127});
      } else {
        f.insert(f.end(), {3, 0x80 | (kSide - 1), kWidth - 2 * kSide - 1, 0x80 | (kSide - 1)});
      }
    }
    return f;
  }();
  return kFrame;
}

}  // namespace vaslab
