// Why the node options could not be built.
#pragma once

#include <string>

#include "p2p_core/error/enumeration.hpp"

namespace valdori::p2p::node {

namespace opts_builder_error {
struct UninitializedField {
  std::string field;
};  // a required option that was not set
struct ValidationError {
  std::string reason;
};
}  // namespace opts_builder_error

class NodeOptsBuilderError
    : public ErrorEnumeration<opts_builder_error::UninitializedField, opts_builder_error::ValidationError> {
 public:
  using ErrorEnumeration::ErrorEnumeration;
};

// Debug form: "UninitializedField(\"id\")".
std::string debug(const NodeOptsBuilderError& e);
std::string display(const NodeOptsBuilderError& e);

}  // namespace valdori::p2p::node
