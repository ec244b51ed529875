#include "util/log/scoped_fields.hpp"

#include <iterator>

#include <fmt/format.h>

namespace valdori::log {
namespace {

thread_local const ScopedFields* innermost = nullptr;

}  // namespace

ScopedFields::ScopedFields(std::span<const Field> fields) : fields_(fields), outer_(innermost) { innermost = this; }

ScopedFields::~ScopedFields() { innermost = outer_; }

bool ScopedFields::any_open() noexcept { return innermost != nullptr; }

void ScopedFields::append_open(std::string& text) {
  // Scopes are few (a span and its enclosing ones): walk to the outermost first.
  const auto append_from = [&](const auto& self, const ScopedFields* scope) -> void {
    if (scope == nullptr) return;
    self(self, scope->outer_);
    for (const Field& field : scope->fields_)
      fmt::format_to(std::back_inserter(text), " {}={}", field.key, field.value);
  };
  append_from(append_from, innermost);
}

}  // namespace valdori::log
