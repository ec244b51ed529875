// Network documents in TOML for the tests of the reader and of the checks: three keys' texts and
// builders of a document's entries.
#pragma once

#include <string>

namespace valdori::network::config::samples {

inline const std::string kKeyA(64, 'a');
inline const std::string kKeyB(64, 'b');
inline const std::string kKeyC(64, 'c');

inline std::string network(const char* subnet) { return "network = \"" + std::string(subnet) + "\"\n"; }

inline std::string node(const std::string& pk, const char* ip, const std::string& hostname) {
  return "[[node]]\npk = \"" + pk + "\"\nip = \"" + ip + "\"\nhostname = \"" + hostname + "\"\n";
}

inline std::string route(const char* dest, const std::string& gw) {
  return "[[route]]\ndest = \"" + std::string(dest) + "\"\ngw = \"" + gw + "\"\n";
}

}  // namespace valdori::network::config::samples
