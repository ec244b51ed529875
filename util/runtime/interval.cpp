#include "util/runtime/interval.hpp"

#include <stdexcept>

#include <boost/asio/use_awaitable.hpp>

namespace valdori::util {

Interval::Interval(const boost::asio::any_io_executor& executor, clock::duration period)
    : Interval(executor, period, clock::now()) {}

Interval::Interval(const boost::asio::any_io_executor& executor, clock::duration period, clock::time_point start)
    : timer_(executor), period_(period), next_(start) {
  if (period <= clock::duration::zero()) {
    throw std::invalid_argument("Interval: the period must be positive");
  }
}

boost::asio::awaitable<Interval::clock::time_point> Interval::tick() {
  const clock::time_point deadline = next_;
  timer_.expires_at(deadline);
  co_await timer_.async_wait(boost::asio::use_awaitable);
  next_ = deadline + period_;
  co_return deadline;
}

void Interval::reset() { next_ = clock::now() + period_; }

}  // namespace valdori::util
