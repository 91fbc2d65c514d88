// Pages for the renderer's tests, made in memory.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "testsupport/temp_root.h"
#include "vaslab/reports/page_description.h"

namespace vaslab {

// An empty page: no header texts, no traces.
inline PageDescription blank_page() {
  PageDescription d;
  for (auto& t : d.header.traces) t.count = 2;
  return d;
}

inline void add_text(PageDescription& d, int x, int y, int attribute, const std::string& text) {
  d.text_items.push_back(PageTextItem{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                                      static_cast<std::uint8_t>(attribute),
                                      static_cast<std::int16_t>(d.text_pool.size())});
  d.text_pool.insert(d.text_pool.end(), text.begin(), text.end());
  d.text_pool.push_back('\0');
}

// The logo kept in the repository, in the graphics folder.
inline void install_logo(const testsupport::TempRoot& root) {
  std::ifstream kept(std::string(VASLAB_SOURCE_DIR) + "/vaslab/resources/graphic/hdrlogo.gph", std::ios::binary);
  root.write("C:\\GRAPHIC\\HDRLOGO.GPH", std::string((std::istreambuf_iterator<char>(kept)), {}));
}

}  // namespace vaslab
