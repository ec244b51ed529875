#include "util/runtime/task_set.hpp"

#include <exception>
#include <string>

namespace valdori::util::detail {

std::string exception_message(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace valdori::util::detail
