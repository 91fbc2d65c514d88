#include "vaslab/reports/zelmar_tables.h"

#include <array>
#include <cstddef>

namespace vaslab {
namespace {

// The texts are compared whole, trailing blanks included: they come back
// exactly as the study calls wrote them.
constexpr std::array<std::string_view, kZelmarTestCodes> kTests = {
    "TOE PRESSURES", "ABI/SEG. PRESS.", "VENOUS REFILL", "CAROTID STUDY", "VENOUS OUTFLOW", "DOPPLER WAVEFORM",
    "TOE WAVEFORM", "FINGER PRESSURES", "PNEUMO WAVEFORM", "FINGER WAVEFORM", "SEGMENTAL PRESS.",
    "PPG WAVEFORM", "VENOUS PPG", "RIGHT COM FEMORAL", "RIGHT SUP FEMORAL", "RIGHT POPLITEAL",
    "RIGHT POST TIBIAL", "RIGHT DORS PEDIS", "LEFT COM FEMORAL", "LEFT SUP FEMORAL", "LEFT POPLITEAL",
    "LEFT POST TIBIAL", "LEFT DORS PEDIS", "RIGHT GREAT TOE", "RIGHT TOE 2", "RIGHT TOE 3", "RIGHT TOE 4",
    "RIGHT TOE 5", "LEFT GREAT TOE", "LEFT TOE 2", "LEFT TOE 3", "LEFT TOE 4", "LEFT TOE 5",
    "RIGHT HIGH THIGH", "RIGHT ABOVE KNEE", "RIGHT BELOW KNEE", "RIGHT ANKLE", "RIGHT METATARSAL",
    "LEFT HIGH THIGH", "LEFT ABOVE KNEE", "LEFT BELOW KNEE", "LEFT ANKLE", "LEFT METATARSAL",
    "RIGHT SUBCLAVIAN", "RIGHT AXILLARY", "RIGHT BRACHIAL", "RIGHT RADIAL", "RIGHT ULNAR", "LEFT SUBCLAVIAN",
    "LEFT AXILLARY", "LEFT BRACHIAL", "LEFT RADIAL", "LEFT ULNAR", "RIGHT VEN OUTFLOW", "RIGHT UPPER ARM",
    "RIGHT FOREARM", "RIGHT WRIST", "RIGHT INDEX FING.", "LEFT VEN OUTFLOW", "LEFT UPPER ARM", "LEFT FOREARM",
    "LEFT WRIST", "LEFT INDEX FING.", "RIGHT THUMB", "RIGHT FINGER 2", "RIGHT FINGER 3", "RIGHT FINGER 4",
    "RIGHT FINGER 5", "LEFT THUMB", "LEFT FINGER 2", "LEFT FINGER 3", "LEFT FINGER 4", "LEFT FINGER 5",
    "LOWER ARTERIAL", "LOWER VENOUS", "COMBINED STUDY", "RIGHT CAROTID", "GENERAL TESTS", "LEFT CAROTID",
    "UPPER ARTERIAL", "RIGHT VEN. REFILL", "", "LEFT VEN. REFILL", "RIGHT ANKLE D.P.", "RIGHT ANKLE P.T.",
    "LEFT ANKLE D.P.", "LEFT ANKLE P.T.", "POST EX. PRESS.", "RIGHT ANKLE PER.1", "LEFT ANKLE PER.1",
    "RIGHT ANKLE PER.2", "LEFT ANKLE PER.2", "RIGHT ANKLE PER.3", "LEFT ANKLE PER.3", "RIGHT ANKLE PER.4",
    "LEFT ANKLE PER.4", "RIGHT ANKLE PER.5", "LEFT ANKLE PER.5", "THORACIC OUTLET", "RIGHT BASELINE",
    "RIGHT MANEUVER 1", "RIGHT MANEUVER 2", "RIGHT MANEUVER 3", "RIGHT MANEUVER 4", "RIGHT MANEUVER 5",
    "LEFT BASELINE", "LEFT MANEUVER 1", "LEFT MANEUVER 2", "LEFT MANEUVER 3", "LEFT MANEUVER 4",
    "LEFT MANEUVER 5", "IMPOTENCE STUDY", "RIGHT PENILE", "LEFT PENILE", "PENILE", "RIGHT ANK POST EX",
    "LEFT ANK POST EX", "PENILE POST EX.", "RIGHT BRA POST EX", "LEFT BRA POST EX", "RIGHT PNL POST EX",
    "LEFT PNL POST EX", "POST EXER. PRS.",
};

constexpr std::string_view kProbes[] = {"PPG AC       ", "PPG DC       ", "PNEUMO AC    ",
                                        "PNEUMO DC    ", "8 MHZ DOPPLER", "5 MHZ DOPPLER"};
constexpr int kProbeRemap[] = {0, 1, 2, 3, 0, 0, 0, 1, 1, 2, 2, 3, 3, 0, 0, 4, 5};

constexpr std::string_view kGains[] = {"16 ",      "12 ",      "8  ",       "6  ",       "4  ",       "3  ",
                                       "2  ",      "1.5",      "1  ",       "24 Hz/mm",  "32 Hz/mm",  "48 Hz/mm",
                                       "64 Hz/mm", "96 Hz/mm", "128 Hz/mm", "192 Hz/mm", "256 Hz/mm", "384 Hz/mm"};
constexpr int kGainRemap[] = {8, 8, 8, 7, 6, 5, 4, 3, 2, 1, 0};
constexpr int kFrequencyGains = 9;  // where the frequency scale starts

constexpr std::string_view kSweeps[] = {"25", "10", "5 ", "2 ", "1 ", "1 THEN 25"};
constexpr int kSweepRemap[] = {4, 3, 2, 1, 0};

// A page value beyond its remapping reads as code 0, as does a negative one.
template <std::size_t N>
int remap(const int (&table)[N], int value) {
  return value >= 0 && static_cast<std::size_t>(value) < N ? table[value] : 0;
}

template <typename Texts>
std::string_view text_of(const Texts& texts, int code) {
  return code >= 0 && static_cast<std::size_t>(code) < std::size(texts) ? texts[code] : std::string_view{};
}

template <typename Texts>
int code_of(const Texts& texts, std::string_view text) {
  for (std::size_t i = 0; i < std::size(texts); ++i)
    if (texts[i] == text) return static_cast<int>(i);
  return -1;
}

}  // namespace

std::string_view zelmar_test_text(int code) { return text_of(kTests, code); }
int zelmar_test_code(std::string_view text) { return code_of(kTests, text); }

int zelmar_probe_remap(int page_value) { return remap(kProbeRemap, page_value); }
std::string_view zelmar_probe_text(int code) { return text_of(kProbes, code); }
int zelmar_probe_code(std::string_view text) { return code_of(kProbes, text); }

int zelmar_gain_remap(int page_value, int gain_group) {
  return remap(kGainRemap, page_value) + (gain_group == 1 ? kFrequencyGains : 0);
}
std::string_view zelmar_gain_text(int code) { return text_of(kGains, code); }
int zelmar_gain_code(std::string_view text) { return code_of(kGains, text); }

int zelmar_sweep_remap(int page_value) { return remap(kSweepRemap, page_value); }
std::string_view zelmar_sweep_text(int code) { return text_of(kSweeps, code); }
int zelmar_sweep_code(std::string_view text) { return code_of(kSweeps, text); }

}  // namespace vaslab
