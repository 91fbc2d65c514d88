#include "ovisp/debug_log.h"

#include <cstdio>
#include <ctime>
#include <fstream>

#include "ovisp/session.h"
#include "ovisp/status.h"
#include "platform/paths.h"

namespace ovisp {
namespace {
std::FILE* g_console = nullptr;
std::ofstream g_file;
}  // namespace

bool startDebugLog(void* console, const std::string& path) {
  g_console = static_cast<std::FILE*>(console);
  std::string start;
  if (g_console != nullptr) {
    std::time_t now = std::time(nullptr);
    char when[64] = {};
    if (ctime_r(&now, when) != nullptr) start = std::string("Running Plyx on ") + when + "\n";
  }
  std::fputs("Debug Mode ON\n", stdout);
  std::fflush(stdout);
  if (g_file.is_open()) return true;  // already open: a second start keeps it
  g_file.open(platform::map_path(path), std::ios::out | std::ios::trunc | std::ios::binary);
  if (!g_file.is_open()) return false;
  writeLog(start);
  return true;
}

void closeDebugLogFile() {
  if (g_file.is_open()) g_file.close();
  g_file.clear();
}

void writeLog(const std::string& text) {
  std::FILE* out = g_console != nullptr ? g_console : stdout;
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
  if (g_file.is_open()) {
    g_file << text;
    g_file.flush();
  }
}

namespace {

void trace(const std::string& text) {
  IspManager* manager = session().manager();
  if (manager != nullptr && manager->debugMode()) writeLog(text);
}

std::string hexBytes(const std::uint8_t* bytes, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += hexText(bytes[i], 2);
  return out;
}

}  // namespace

void traceTextSent(const std::string& frame) { trace(">> " + frame + "\n"); }

void traceTextReceived(const std::string& text) { trace("<< " + text + "\n"); }

void traceCanReceived(std::uint32_t id, std::uint8_t length, const std::uint8_t* data) {
  trace("<< " + hexText(id, 3) + " " + hexText(length, 2) + " " + hexBytes(data, length) + "\n");
}

void traceUsbSent(const std::string& request, const std::string& payload) {
  trace(">> " + request + " " + payload + "\n");
}

void traceUsbReply(const std::string& request, const std::uint8_t* bytes, int count) {
  trace("<< " + request + " " + (count > 0 ? hexBytes(bytes, count) : std::string()) + "\n");
}

}  // namespace ovisp
