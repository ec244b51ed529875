// The outcome of the latest housekeeping pass for one network, as status reports show it.
#pragma once

#include <string>
#include <variant>

namespace valdori::network {

struct NetworkHealth {
  struct Initializing {  // no housekeeping outcome yet
    bool operator==(const Initializing&) const = default;
  };
  struct Disabled {
    bool operator==(const Disabled&) const = default;
  };
  struct Ok {  // the applied state equals the desired state
    bool operator==(const Ok&) const = default;
  };
  struct Pending {  // the desired state is not fully in force yet
    bool operator==(const Pending&) const = default;
  };
  struct RetrieveConfigError {  // the document was not obtained or not usable
    std::string message;
    bool operator==(const RetrieveConfigError&) const = default;
  };
  struct NotAMemberError {  // this node's key is not a node of the network
    bool operator==(const NotAMemberError&) const = default;
  };

  std::variant<Initializing, Disabled, Ok, Pending, RetrieveConfigError, NotAMemberError> kind;

  bool operator==(const NetworkHealth&) const = default;
};

// The variant name, "RetrieveConfigError(\"reason\")" with the reason quoted and escaped.
std::string debug(const NetworkHealth& health);

}  // namespace valdori::network
