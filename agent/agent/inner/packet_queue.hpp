// A bounded multi-producer, multi-consumer queue joining the overlay and the tunnel sides of the
// packet path. Producers never wait: a full or closed queue refuses the item at once, so load is
// shed instead of stalling a reader. Consumers wait for items; each item goes to exactly one.
//
// Consumers that hand the items on in order share the queue's turn (`take_turn`): a burst pushed
// while several consumers wait would otherwise be split among them.
//
// Items are kept in a ring that grows to the queue's capacity once and then never shrinks, so a
// queue in steady use allocates nothing per item.
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/experimental/channel_traits.hpp>
#include <boost/asio/experimental/concurrent_channel.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/error_code.hpp>
#include <boost/system/result.hpp>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "util/runtime/turns.hpp"

namespace valdori::agent {

namespace queue_detail {

// A FIFO on a vector ring: the operations the channel uses of its container. Slots are optional
// because the channel's stored values have no default.
template <class T>
class Ring {
 public:
  void push_back(T value) {
    if (size_ == slots_.size()) grow();
    slots_[(head_ + size_) % slots_.size()].emplace(std::move(value));
    ++size_;
  }
  T& front() { return *slots_[head_]; }
  void pop_front() {
    slots_[head_].reset();  // release what the item holds now, not when its slot is reused
    head_ = (head_ + 1) % slots_.size();
    --size_;
  }
  std::size_t size() const noexcept { return size_; }
  void clear() {
    while (size_ > 0) pop_front();
  }

 private:
  void grow() {
    std::vector<std::optional<T>> bigger(slots_.empty() ? 16 : slots_.size() * 2);
    for (std::size_t i = 0; i < size_; ++i) bigger[i] = std::move(slots_[(head_ + i) % slots_.size()]);
    slots_ = std::move(bigger);
    head_ = 0;
  }

  std::vector<std::optional<T>> slots_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

template <class... Signatures>
struct RingTraits : boost::asio::experimental::channel_traits<Signatures...> {
  template <class... NewSignatures>
  struct rebind {
    using other = RingTraits<NewSignatures...>;
  };
  template <class Element>
  struct container {
    using type = Ring<Element>;
  };
};

}  // namespace queue_detail

template <class T>
class PacketQueue {
 public:
  PacketQueue(const boost::asio::any_io_executor& executor, std::size_t capacity)
      : channel_(executor, capacity), turns_(executor) {}
  PacketQueue(const PacketQueue&) = delete;
  PacketQueue& operator=(const PacketQueue&) = delete;

  // Hands `item` to a waiting consumer or stores it. When the queue is full or closed the item
  // is dropped and the reason returned: "sending on a full channel" or "sending on a closed
  // channel".
  std::optional<std::string_view> try_push(T item) {
    if (channel_.try_send(boost::system::error_code{}, std::move(item))) return std::nullopt;
    return channel_.is_open() ? std::string_view("sending on a full channel")
                              : std::string_view("sending on a closed channel");
  }

  // The next item, waiting while the queue is empty; an error once the queue is closed and
  // empty. Honours Asio per-operation cancellation.
  boost::asio::awaitable<boost::system::result<T>> pop() {
    auto [ec, item] = co_await channel_.async_receive(boost::asio::as_tuple(boost::asio::use_awaitable));
    if (ec) co_return ec;
    co_return std::move(item);
  }

  // The next item if one is stored (or a producer is waiting), without waiting.
  std::optional<T> try_pop() {
    std::optional<T> item;
    channel_.try_receive([&](boost::system::error_code ec, T value) {
      if (!ec) item.emplace(std::move(value));
    });
    return item;
  }

  // The right to pop, for one consumer at a time, so that items leave in the order they came.
  // The first consumer to take it keeps it: the others could not pop before it anyway, and
  // handing it round would only resume each of them once per wake-up. They stand by until the
  // holder ends (the consumers end together). False when the wait was cancelled.
  boost::asio::awaitable<bool> take_turn() { return turns_.take(); }

  // Refuses every later push and drops the stored items; waiting and later pops fail.
  void close() { channel_.close(); }

 private:
  using Channel =
      boost::asio::experimental::basic_concurrent_channel<boost::asio::any_io_executor, queue_detail::RingTraits<>,
                                                          void(boost::system::error_code, T)>;
  Channel channel_;
  util::Turns turns_;
};

}  // namespace valdori::agent
