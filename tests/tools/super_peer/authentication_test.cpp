// A node's registration is taken only by HELLOs that authenticate (armed, recent, newer than the
// node's last), and kept on the first source while it answers.
#include <gtest/gtest.h>

#include "tests/tools/super_peer/harness.hpp"

namespace valdori::super_peer::testing {
namespace {

TEST_F(SuperPeerTest, AnswersOnlyHellosThatAuthenticate) {
  struct Case {
    const char* name;
    bool arming;
    bool armed;
    std::int64_t age_ms;
    bool answered;
  };
  const Case cases[] = {
      {"armed", true, true, 0, true},
      {"plain", true, false, 0, false},
      {"plain, arming off", false, false, 0, true},
      {"older than a minute", true, true, 61'000, false},
      {"a minute ahead", true, true, -61'000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SuperPeerOptions options = default_options();
    options.arm_messages = c.arming;
    start(options);
    UdpNode node(io_, url());
    const std::uint64_t time = p2p::node::system_time_ms() - c.age_ms;
    node.send(node.hello(time, {}, c.armed));
    const auto answer = node.receive(c.answered ? kAnswerLimit : kSilence);
    ASSERT_EQ(answer.has_value(), c.answered);
    if (answer) {
      EXPECT_EQ(node.ack_time(*answer, c.armed), time);
    }
  }
}

// An impostor sends A's key from a socket of its own: a plain HELLO, and A's last two armed
// HELLOs captured and replayed. None is answered, while A is served after its clock steps back;
// relays for A still reach A, and so do they after A greets from a second source of its own,
// since the first still answers.
TEST_F(SuperPeerTest, HijackAndReplayAreRefusedAndTheFirstSourceStays) {
  start();
  UdpNode a(io_, url());
  UdpNode b(io_, url());
  greet(b);
  const Bytes captured_earlier = a.hello(++next_time_, {});
  expect_acked(a, captured_earlier, next_time_);
  const std::uint64_t time = ++next_time_;
  const Bytes captured = a.hello(time, {});
  expect_acked(a, captured, time);

  UdpNode impostor(io_, url());
  for (const Bytes& attack : {captured, captured_earlier, a.hello(time + 1, {}, false)}) {
    impostor.send(attack);
    EXPECT_FALSE(impostor.receive(kSilence));
  }
  // A's clock steps back a second: its next HELLO is served all the same.
  expect_acked(a, a.hello(time - 1000, {}), time - 1000);
  UdpNode a_elsewhere(io_, url(), a.identity());
  greet(a_elsewhere);

  expect_relayed(b, a, kPayload);
  EXPECT_FALSE(impostor.receive(kSilence));
  EXPECT_FALSE(a_elsewhere.receive(kSilence));
}

}  // namespace
}  // namespace valdori::super_peer::testing
