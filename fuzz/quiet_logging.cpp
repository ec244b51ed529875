// The start of every target, called once before the first input (by libFuzzer, and by the corpus
// replay): every log line is formatted, so that the formatting of hostile values runs too, but
// none is written anywhere.
#include "util/log/log.hpp"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  valdori::log::remove_console_sink();
  valdori::log::set_level(valdori::log::Level::trace);
  return 0;
}
