// Building the node options: required options and bounds.
#include <gtest/gtest.h>

#include "node_fixture.hpp"
#include "p2p_core/node/opts_builder.hpp"

namespace valdori::p2p::node_test {
namespace {

TEST(NodeOptsBuilder, RefusesMissingAndOutOfBoundsOptions) {
  struct Case {
    const char* name;
    node::NodeOptsBuilder builder;
    std::string display;
  };
  const auto sink = std::make_shared<CapturingSink>();
  const Case cases[] = {
      {"no identity", node::NodeOptsBuilder().message_sink(sink), "Option not set: id"},
      {"no message sink", node::NodeOptsBuilder().id(self_id()), "Option not set: message_sink"},
      {"too many sockets", node::NodeOptsBuilder().id(self_id()).message_sink(sink).udp_sockets(65),
       "Invalid options: udp_sockets is 65, at most 64 are allowed"},
      {"message length too small", node::NodeOptsBuilder().id(self_id()).message_sink(sink).max_message_len(100),
       "Invalid options: max_message_len is 100, it must lie in 576..65507"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto built = c.builder.build();
    ASSERT_FALSE(built);
    EXPECT_EQ(node::display(built.error()), c.display);
  }
}

}  // namespace
}  // namespace valdori::p2p::node_test
