#include "p2p_core/node/opts_builder_error.hpp"

#include "p2p_core/error/debug_form.hpp"
#include "util/overloaded.hpp"

namespace valdori::p2p::node {

using namespace opts_builder_error;

std::string debug(const NodeOptsBuilderError& e) {
  return e.visit(util::Overloaded{
      [](const UninitializedField& k) { return debug_form::tuple("UninitializedField", {debug_form::str(k.field)}); },
      [](const ValidationError& k) { return debug_form::tuple("ValidationError", {debug_form::str(k.reason)}); },
  });
}

std::string display(const NodeOptsBuilderError& e) {
  return e.visit(util::Overloaded{
      [](const UninitializedField& k) { return "Option not set: " + k.field; },
      [](const ValidationError& k) { return "Invalid options: " + k.reason; },
  });
}

}  // namespace valdori::p2p::node
