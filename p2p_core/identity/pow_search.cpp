#include "p2p_core/identity/pow_search.hpp"

#include <optional>
#include <stop_token>
#include <system_error>
#include <thread>
#include <vector>

#include "p2p_core/identity/pow.hpp"
#include "util/log/log.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::p2p {
namespace {

spdlog::logger& lg() { return log::logger("valdori_p2p::identity"); }

// How many pows a worker tries between looks at the stop flag: rare enough to cost nothing,
// often enough to stop within microseconds.
constexpr std::uint32_t kStopCheckMask = 0xfff;

std::optional<PowSolution> search_keys(std::uint8_t difficulty, const std::stop_token& stop) {
  while (!stop.stop_requested()) {
    const SecKey sk = SecKey::generate();
    const PowHasher hasher(sk.public_key());
    std::uint32_t nonce = 0;
    do {
      const Pow pow(static_cast<std::int32_t>(nonce));
      if (hasher.leading_zero_bits(pow) >= difficulty) return PowSolution{sk, pow};
      ++nonce;
      if ((nonce & kStopCheckMask) == 0 && stop.stop_requested()) return std::nullopt;
    } while (nonce != 0);  // every pow of this key tried: next key
  }
  return std::nullopt;
}

}  // namespace

PowSolution search_pow(std::uint8_t difficulty, unsigned workers) {
  std::stop_source stop;
  std::vector<std::optional<PowSolution>> found(workers == 0 ? 1 : workers);
  auto work = [&](std::size_t slot) {
    found[slot] = search_keys(difficulty, stop.get_token());
    if (found[slot]) stop.request_stop();
  };

  {
    std::vector<std::jthread> threads;
    threads.reserve(found.size() - 1);
    for (std::size_t slot = 1; slot < found.size(); ++slot) {
      try {
        threads.emplace_back(work, slot);
      } catch (const std::system_error& e) {
        // Fewer workers only make the search slower; the calling thread always takes part.
        VLOG_WARN(lg(), "Could not start proof-of-work worker: {}", util::text::escape_controls(e.what()));
        break;
      }
    }
    VLOG_DEBUG(lg(), "Searching for a proof of work of difficulty {} on {} threads", difficulty, threads.size() + 1);
    work(0);
  }  // joins the workers

  // The calling thread returns only with a solution or after another worker found one.
  for (auto& solution : found)
    if (solution) return *solution;
  std::abort();  // unreachable
}

}  // namespace valdori::p2p
