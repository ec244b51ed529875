// The web PKI root certificates this build trusts, compiled in from the system's root set when
// the library was built; nothing is read from the disk at run time.
#pragma once

#include <string_view>

namespace valdori::http {

// Every root as PEM, one after another. (Generated source: web_pki_roots.cpp in the build tree.)
std::string_view web_pki_roots_pem();

}  // namespace valdori::http
