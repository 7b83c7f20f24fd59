// layers: terminal
// Arbitrary operating system command strings (what comes between ESC ] and
// its terminator) carried out on a terminal without a window, and arbitrary
// colour texts (rgb:rr/gg/bb, #rrggbb) read on their own.  Every palette entry must stay
// either unchanged (0) or an RGB value, and a colour that parses must be
// 24 bits.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "terminal/terminal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<Terminal> t = [] {
    auto term = std::make_unique<Terminal>();
    term_init_record(term.get());
    return term;
  }();
  const char* s = reinterpret_cast<const char*>(data);
  // A string as long as the interpreter keeps (it drops longer ones).
  size_t len = size > kTermOscBuf ? kTermOscBuf : size;
  term_osc_execute(t.get(), s, len);
  for (uint32_t entry : t->palette_override)
    if (entry != 0 && (entry & ~0xFFFFFFu) != kColourRgb) abort();
  uint32_t rgb = 0;
  if (term_parse_colour(s, size, &rgb) == 0 && rgb > 0xFFFFFF) abort();
  return 0;
}
