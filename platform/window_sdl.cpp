// The SDL2 window backend.
#include <SDL.h>
#include <SDL_syswm.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

#include "platform/debug.h"
#include "platform/window.h"

namespace platform {
namespace {

int to_virtual_key(SDL_Keycode k) {
  if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
  if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
  if (k >= SDLK_F1 && k <= SDLK_F12) return vk::kF1 + (k - SDLK_F1);
  switch (k) {
    case SDLK_BACKSPACE: return vk::kBack;
    case SDLK_TAB: return vk::kTab;
    case SDLK_RETURN: case SDLK_KP_ENTER: return vk::kReturn;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return vk::kShift;
    case SDLK_LCTRL: case SDLK_RCTRL: return vk::kControl;
    case SDLK_LALT: case SDLK_RALT: return vk::kMenu;
    case SDLK_CAPSLOCK: return vk::kCapital;
    case SDLK_ESCAPE: return vk::kEscape;
    case SDLK_SPACE: return vk::kSpace;
    case SDLK_PAGEUP: return vk::kPrior;
    case SDLK_PAGEDOWN: return vk::kNext;
    case SDLK_END: return vk::kEnd;
    case SDLK_HOME: return vk::kHome;
    case SDLK_LEFT: return vk::kLeft;
    case SDLK_UP: return vk::kUp;
    case SDLK_RIGHT: return vk::kRight;
    case SDLK_DOWN: return vk::kDown;
    case SDLK_INSERT: return vk::kInsert;
    case SDLK_DELETE: return vk::kDelete;
    default: return 0;
  }
}

// The simple beep: a short tone through SDL's audio.  An open device and the
// audio subsystem's own threads wake the process many times a second, so the
// device is opened for each tone and closed again, with the subsystem, once
// the tone has played out; the program's own thread does both, from its
// waits.  A machine without a sound device stays silent: the first failure
// is noted once and no later beep tries again, so a refusal never stalls on
// the sound system or fills the log.
class Beeper {
 public:
  ~Beeper() { close(); }

  void beep() {
    if (unavailable_ || (!device_ && !open())) return;
    // A beep while the last tone still sounds is heard as that one.
    if (SDL_GetQueuedAudioSize(device_) > tail_bytes()) return;
    const std::vector<std::int16_t>& t = tone();
    if (SDL_QueueAudio(device_, t.data(), static_cast<Uint32>(t.size() * sizeof t[0])) != 0) {
      give_up("the tone could not be queued", SDL_GetError());
      return;
    }
    played_by_ = SDL_GetTicks64() + kToneMs + kTailMs + buffer_ms();
    SDL_PauseAudioDevice(device_, 0);
  }

  // Closes the device once the tone has played out (or never will).
  void settle() {
    if (!device_) return;
    const Uint64 now = SDL_GetTicks64();
    if (now < played_by_) return;
    if (SDL_GetQueuedAudioSize(device_) == 0 || now >= played_by_ + kStuckMs) close();
  }

  // `timeout_ms`, or less when the tone ends sooner: the wait then returns in
  // time to close the device.
  std::uint32_t wait_limit(std::uint32_t timeout_ms) const {
    if (!device_) return timeout_ms;
    const Uint64 now = SDL_GetTicks64();
    const Uint64 left = now < played_by_ ? played_by_ - now : kRecheckMs;
    return static_cast<std::uint32_t>(std::min<Uint64>(timeout_ms, left));
  }

 private:
  static constexpr int kRate = 44100;
  static constexpr int kToneHz = 750;
  static constexpr int kToneMs = 150;
  static constexpr int kRampMs = 5;  // no click at either end
  // Silence queued after the tone: the device is closed only once all of it
  // was handed over, so the tone's end is never cut in the device's buffers.
  static constexpr int kTailMs = 100;
  static constexpr Uint64 kRecheckMs = 10;
  static constexpr Uint64 kStuckMs = 1000;
  static constexpr int kBufferSamples = 512;

  static Uint32 tail_bytes() { return kRate * kTailMs / 1000 * sizeof(std::int16_t); }
  Uint64 buffer_ms() const { return static_cast<Uint64>(2 * spec_.samples) * 1000 / kRate; }

  static const std::vector<std::int16_t>& tone() {
    static const std::vector<std::int16_t> samples = [] {
      const int n = kRate * kToneMs / 1000, ramp = kRate * kRampMs / 1000;
      std::vector<std::int16_t> v(static_cast<std::size_t>(n + kRate * kTailMs / 1000), 0);
      for (int i = 0; i < n; ++i) {
        const double edge = std::min({1.0, (i + 1.0) / ramp, (n - i) / static_cast<double>(ramp)});
        const double wave = std::sin(2.0 * std::numbers::pi * kToneHz * i / kRate);
        v[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(std::lround(8000.0 * edge * wave));
      }
      return v;
    }();
    return samples;
  }

  bool open() {
    // Devices coming and going are not the program's business: their
    // events would only end waits for input.
    SDL_EventState(SDL_AUDIODEVICEADDED, SDL_IGNORE);
    SDL_EventState(SDL_AUDIODEVICEREMOVED, SDL_IGNORE);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      give_up("the sound system did not start", SDL_GetError());
      return false;
    }
    SDL_AudioSpec want{};
    want.freq = kRate;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = kBufferSamples;
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &spec_, 0);
    if (!device_) {
      give_up("no sound device opened", SDL_GetError());
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return false;
    }
    return true;
  }

  void close() {
    if (!device_) return;
    SDL_CloseAudioDevice(device_);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    device_ = 0;
  }

  void give_up(const char* what, const char* why) {
    debug_printf("No beep: %s (%s)\n", what, why);
    close();
    unavailable_ = true;
  }

  SDL_AudioDeviceID device_ = 0;
  SDL_AudioSpec spec_{};
  Uint64 played_by_ = 0;
  bool unavailable_ = false;
};

class SdlBackend : public WindowBackend {
 public:
  // The video subsystem stays up until the process ends: shutting it down
  // unloads the display libraries, whose own allocations then show up as
  // leaks of unknown origin in the sanitised build.  Destroying the window
  // already gives the display back its mode.
  ~SdlBackend() override { destroy(); }

  bool create(const std::string& title, int w, int h) override {
    window_ = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, w, h,
                               SDL_WINDOW_SHOWN);
    if (!window_) {
      debug_printf("SDL_CreateWindow: %s\n", SDL_GetError());
      return false;
    }
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_) renderer_ = SDL_CreateRenderer(window_, -1, 0);
    if (!renderer_) {
      debug_printf("SDL_CreateRenderer: %s\n", SDL_GetError());
      destroy();
      return false;
    }
    SDL_StartTextInput();
    return true;
  }

  void destroy() override {
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    texture_ = nullptr;
    renderer_ = nullptr;
    window_ = nullptr;
  }

  bool exists() const override { return window_ != nullptr; }
  void minimise() override { if (window_) SDL_MinimizeWindow(window_); }
  void restore() override { if (window_) SDL_RestoreWindow(window_); }

  void set_fullscreen_style(bool fs) override {
    if (!window_) return;
    SDL_SetWindowBordered(window_, fs ? SDL_FALSE : SDL_TRUE);
  }

  void place(const Rect& r) override {
    if (!window_) return;
    SDL_SetWindowSize(window_, r.w, r.h);
    SDL_SetWindowPosition(window_, r.x, r.y);
  }

  DisplayMode desktop_mode() override {
    SDL_DisplayMode m;
    if (SDL_GetCurrentDisplayMode(0, &m) != 0) return {640, 480};
    return {m.w, m.h};
  }

  bool change_display_mode(const DisplayMode& want) override {
    if (!window_) return false;
    SDL_DisplayMode m{};
    SDL_DisplayMode asked{};
    asked.w = want.width;
    asked.h = want.height;
    if (!SDL_GetClosestDisplayMode(0, &asked, &m) || m.w != want.width || m.h != want.height) return false;
    if (SDL_SetWindowDisplayMode(window_, &m) != 0) return false;
    return SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN) == 0;
  }

  bool restore_display_mode() override {
    if (!window_) return false;
    return SDL_SetWindowFullscreen(window_, 0) == 0;
  }

  Rect usable_bounds() override {
    SDL_Rect r;
    if (SDL_GetDisplayUsableBounds(0, &r) != 0) return {0, 0, 640, 480};
    return {r.x, r.y, r.w, r.h};
  }

  void present(const std::uint32_t* pixels, int width, int height, const Rect& dirty) override {
    if (!renderer_) return;
    bool whole = false;
    if (!texture_ || tex_w_ != width || tex_h_ != height) {
      if (texture_) SDL_DestroyTexture(texture_);
      texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height);
      tex_w_ = width;
      tex_h_ = height;
      if (!texture_) return;
      whole = true;
    }
    // A live study presents a few traces a hundred times a second: only
    // what changed is copied, unless the window is scaled (a part scaled on
    // its own would not meet its neighbours exactly) or new, or the renderer
    // draws into buffers that do not keep the last picture.
    int ww = 0, wh = 0;
    SDL_GetWindowSize(window_, &ww, &wh);
    SDL_RendererInfo info{};
    const bool keeps_picture = SDL_GetRendererInfo(renderer_, &info) == 0 && (info.flags & SDL_RENDERER_SOFTWARE);
    const int x0 = std::max(dirty.x, 0), y0 = std::max(dirty.y, 0);
    const int x1 = std::min(dirty.x + dirty.w, width), y1 = std::min(dirty.y + dirty.h, height);
    if (whole || !keeps_picture || ww != width || wh != height || x1 <= x0 || y1 <= y0) {
      SDL_UpdateTexture(texture_, nullptr, pixels, width * 4);
      SDL_RenderClear(renderer_);
      SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    } else {
      const SDL_Rect r{x0, y0, x1 - x0, y1 - y0};
      SDL_UpdateTexture(texture_, &r, pixels + static_cast<std::size_t>(y0) * width + x0, width * 4);
      SDL_RenderCopy(renderer_, texture_, &r, &r);
    }
    SDL_RenderPresent(renderer_);
  }

  bool next_message(WindowMessage& out) override {
    beeper_.settle();
    // SDL sends no text event for Enter, Backspace, Escape and Tab; their
    // character message follows the key-down, as the window procedure expects.
    if (pending_char_) {
      out = WindowMessage{};
      out.msg = Msg::kChar;
      out.key = pending_char_;
      pending_char_ = 0;
      return true;
    }
    if (held_) {
      held_ = false;
      if (translate(held_event_, out)) return true;
    }
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
      if (translate(e, out)) return true;
    }
    return false;
  }

  void wait_message(std::uint32_t timeout_ms) override {
    if (pending_char_ || held_) return;
    timeout_ms = beeper_.wait_limit(timeout_ms);
    // The event is kept for next_message(), so none is lost or reordered.
    held_ = SDL_WaitEventTimeout(&held_event_, static_cast<int>(timeout_ms)) == 1;
    beeper_.settle();
  }

  void wait_message_or(std::uint32_t timeout_ms, const std::vector<int>& fds) override {
    if (pending_char_ || held_) return;
    // Everything the display sent so far becomes SDL events here, and the
    // display library's own queue is left empty: from then on new input
    // shows on the connection's descriptor.
    SDL_PumpEvents();
    if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) return;
    std::vector<int> watched = fds;
    const int display = display_descriptor();
    if (display >= 0) {
      watched.push_back(display);
    } else if (!events_only_from_program()) {
      // A display whose descriptor is not known is looked at every
      // millisecond, as SDL's own wait would.
      timeout_ms = std::min<std::uint32_t>(timeout_ms, 1);
    }
    wait_readable(watched, beeper_.wait_limit(timeout_ms));
    beeper_.settle();
  }

  bool caps_lock_on() override { return (SDL_GetModState() & KMOD_CAPS) != 0; }
  void beep() override { beeper_.beep(); }

  void set_icon(const std::uint32_t* pixels, int width, int height) override {
    if (!window_ || !pixels || width <= 0 || height <= 0) return;
    SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<std::uint32_t*>(pixels), width, height, 32,
                                                           width * 4, SDL_PIXELFORMAT_RGB888);
    if (!icon) return;
    SDL_SetWindowIcon(window_, icon);
    SDL_FreeSurface(icon);
  }

 private:
  // The descriptor of the X display connection, -1 when there is none.
  int display_descriptor() {
    if (!window_) return -1;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window_, &info)) return -1;
#if defined(SDL_VIDEO_DRIVER_X11)
    if (info.subsystem == SDL_SYSWM_X11 && info.info.x11.display) return ConnectionNumber(info.info.x11.display);
#endif
    return -1;
  }

  // Drivers without a display, whose events only the program itself queues.
  static bool events_only_from_program() {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && (std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "offscreen") == 0);
  }

  // Window pixels to surface pixels: the window may be scaled by the
  // desktop, the surface is what the program draws in.
  void to_surface(int wx, int wy, int& x, int& y) {
    int ww = 0, wh = 0;
    SDL_GetWindowSize(window_, &ww, &wh);
    x = (ww > 0 && tex_w_ > 0) ? wx * tex_w_ / ww : wx;
    y = (wh > 0 && tex_h_ > 0) ? wy * tex_h_ / wh : wy;
  }

  bool translate(const SDL_Event& e, WindowMessage& m) {
    m = WindowMessage{};
    const SDL_Keymod mods = SDL_GetModState();
    m.alt = (mods & KMOD_ALT) != 0;
    m.ctrl = (mods & KMOD_CTRL) != 0;
    switch (e.type) {
      case SDL_QUIT:
        m.msg = Msg::kDestroy;
        return true;
      case SDL_WINDOWEVENT:
        switch (e.window.event) {
          case SDL_WINDOWEVENT_CLOSE: m.msg = Msg::kDestroy; return true;
          case SDL_WINDOWEVENT_FOCUS_GAINED: m.msg = Msg::kActivate; return true;
          case SDL_WINDOWEVENT_FOCUS_LOST: m.msg = Msg::kDeactivate; return true;
          case SDL_WINDOWEVENT_EXPOSED: m.msg = Msg::kPaint; return true;
          default: return false;
        }
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        m.key = to_virtual_key(e.key.keysym.sym);
        if (m.key == 0) return false;
        m.msg = e.type == SDL_KEYDOWN ? Msg::kKeyDown : Msg::kKeyUp;
        m.repeat = e.key.repeat != 0;
        if (e.type == SDL_KEYDOWN && !e.key.repeat) pending_char_ = control_char(m.key);
        return true;
      }
      case SDL_TEXTINPUT: {
        const unsigned char c = static_cast<unsigned char>(e.text.text[0]);
        // Alt+letter is a command key (the typing wait's Alt+K, L, S), never
        // a typed character; some desktops still send its text.
        if (c == 0 || c >= 0x80 || m.alt) return false;
        m.msg = Msg::kChar;
        m.key = c;
        return true;
      }
      case SDL_MOUSEMOTION:
        m.msg = Msg::kMouseMove;
        to_surface(e.motion.x, e.motion.y, m.x, m.y);
        return true;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        if (e.button.button != SDL_BUTTON_LEFT) return false;
        m.msg = e.type == SDL_MOUSEBUTTONDOWN ? Msg::kLeftDown : Msg::kLeftUp;
        to_surface(e.button.x, e.button.y, m.x, m.y);
        return true;
      default:
        return false;
    }
  }

  static int control_char(int key) {
    switch (key) {
      case vk::kBack: case vk::kReturn: case vk::kEscape: case vk::kTab: return key;
      default: return 0;
    }
  }

 private:
  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  int tex_w_ = 0, tex_h_ = 0;
  int pending_char_ = 0;
  bool held_ = false;
  SDL_Event held_event_{};
  Beeper beeper_;
};

}  // namespace

std::unique_ptr<WindowBackend> make_sdl_backend() {
  // The program presents its own finished surface: no GL context is needed,
  // and one costs some 90 MB under X.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    debug_printf("SDL_Init: %s\n", SDL_GetError());
    return nullptr;
  }
  return std::make_unique<SdlBackend>();
}

}  // namespace platform

// Leak reports of the sanitised build: the display and bus libraries that SDL
// loads keep allocations of their own until the process ends.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\nleak:libX11.so\nleak:libxcb.so\n";
}
