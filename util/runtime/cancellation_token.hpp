// A tree of cancellation tokens.
//
// A `CancellationToken` is a cheap, copyable handle to shared state; every member function is
// thread-safe. Cancelling a token cancels every token below it (children, their children, ...),
// never its parent. A child made from a cancelled token starts cancelled. Tokens are never
// un-cancelled.
//
// `cancelled()` is an awaitable that completes when the token is cancelled. It honours Asio
// per-operation cancellation, so it can be raced (`token.cancelled() || op`, or better
// `until_cancelled` in race.hpp): when the other side wins, the wait is removed from the token
// and ends with `boost::system::system_error` (operation_aborted), which the race discards.
//
// The parent keeps only weak references to its children; registrations of children that no
// longer exist are pruned as new children are added, so a long-lived parent with short-lived
// children stays bounded (at most about twice the live children, plus a small constant).
#pragma once

#include <cstddef>
#include <memory>

#include <boost/asio/awaitable.hpp>

namespace valdori::util {

namespace detail {
class TokenState;
}

class CancellationToken {
 public:
  // A new root token, not cancelled.
  CancellationToken();
  // Copies share the token. A moved-from handle stays a valid handle to the same token.
  CancellationToken(const CancellationToken&) = default;
  CancellationToken& operator=(const CancellationToken&) = default;

  // A token that is cancelled with this one (and on its own). Starts cancelled when this
  // token is cancelled already.
  CancellationToken child_token() const;

  // Cancels this token and all its descendants and wakes every `cancelled()` waiter. The
  // descendants are cancelled before `cancel` returns; waiters resume on their own executors.
  // Idempotent.
  void cancel() const;

  bool is_cancelled() const noexcept;

  // Completes when the token is cancelled (at once if it is already). Throws
  // boost::system::system_error (operation_aborted) when the wait itself is cancelled through
  // Asio per-operation cancellation.
  boost::asio::awaitable<void> cancelled() const;

  // Diagnostics: child registrations the parent currently holds (live or not yet pruned).
  std::size_t child_registrations() const;
  // Diagnostics: `cancelled()` waits currently registered on this token.
  std::size_t pending_waits() const;

  // True when both handles refer to the same token.
  friend bool operator==(const CancellationToken& a, const CancellationToken& b) { return a.state_ == b.state_; }

 private:
  explicit CancellationToken(std::shared_ptr<detail::TokenState> state);
  std::shared_ptr<detail::TokenState> state_;
};

}  // namespace valdori::util
