#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "p2p_core/crypto/nonce.hpp"

namespace valdori::p2p::crypto {
namespace {

using Nonce = std::array<std::uint8_t, kNonceLen>;

Nonce next_nonce() {
  Nonce nonce;
  unique_nonce(nonce);
  return nonce;
}

TEST(UniqueNonce, NeverRepeatsWithinAThread) {
  std::set<Nonce> seen;
  for (int i = 0; i < 20000; ++i) ASSERT_TRUE(seen.insert(next_nonce()).second) << "nonce " << i;
}

TEST(UniqueNonce, ThreadsDrawTheirOwnPrefixes) {
  const Nonce here = next_nonce();
  Nonce there;
  std::thread([&] { there = next_nonce(); }).join();
  EXPECT_FALSE(std::equal(here.begin(), here.begin() + 16, there.begin()));
}

// A forked child must not continue the parent's sequence: with the same session key that would
// reuse nonces.
TEST(UniqueNonce, AForkedChildDoesNotRepeatTheParentsNonces) {
  next_nonce();
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const Nonce nonce = next_nonce();
    const bool written = write(pipe_fds[1], nonce.data(), nonce.size()) == static_cast<ssize_t>(nonce.size());
    _exit(written ? 0 : 1);
  }
  Nonce from_child{};
  const ssize_t read_len = read(pipe_fds[0], from_child.data(), from_child.size());
  int status = 0;
  waitpid(child, &status, 0);
  close(pipe_fds[0]);
  close(pipe_fds[1]);
  ASSERT_EQ(read_len, static_cast<ssize_t>(from_child.size()));
  const Nonce in_parent = next_nonce();
  EXPECT_FALSE(std::equal(in_parent.begin(), in_parent.begin() + 16, from_child.begin()));
}

}  // namespace
}  // namespace valdori::p2p::crypto
