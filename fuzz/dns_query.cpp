// The embedded DNS responder: any message as the payload of a query to the responder, decoded,
// answered from a small catalogue and encoded within the size the query allows.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/dns_responder.hpp"
#include "fuzz/fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdori::fuzz;
  static DnsResponder& responder = *new DnsResponder();
  responder.answer({ipv4("10.0.0.7"), 40001}, {ipv4("10.0.0.254"), 53}, std::span(data, size));
  return 0;
}
