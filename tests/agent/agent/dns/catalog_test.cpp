#include "agent/agent/dns/catalog.hpp"

#include <gtest/gtest.h>

#include "dns_samples.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::agent::dns {
namespace {

using namespace testing;
using Outcome = DnsCatalog::Outcome;

Bytes wire_name(const char* text) {
  ldns_rdf* rdf = ldns_dname_new_frm_str(text);
  EXPECT_NE(rdf, nullptr) << text;
  Bytes bytes(ldns_rdf_data(rdf), ldns_rdf_data(rdf) + ldns_rdf_size(rdf));
  ldns_rdf_deep_free(rdf);
  return bytes;
}

std::vector<Ipv4Addr> addresses_of(const DnsCatalog::Lookup& lookup) {
  return {lookup.addresses.begin(), lookup.addresses.end()};
}

TEST(DnsCatalog, LooksUpHostNamesOfTheZone) {
  const DnsCatalog catalog =
      build_catalog(networks({HostnameEntries{{"10.0.0.1", "a"}, {"10.0.0.2", "web-01"}}, std::nullopt}));
  struct Case {
    const char* name;
    Outcome outcome;
    std::vector<Ipv4Addr> addresses;
  };
  const Case cases[] = {
      {"web-01.valdori.", Outcome::Found, {addr("10.0.0.2")}},
      {"WEB-01.Valdori.", Outcome::Found, {addr("10.0.0.2")}},
      {"valdori.", Outcome::Found, {}},
      {"b.valdori.", Outcome::NoSuchName, {}},
      {"x.a.valdori.", Outcome::NoSuchName, {}},
      {"a.example.", Outcome::OutsideZone, {}},
      {"avaldori.", Outcome::OutsideZone, {}},
  };
  for (const Case& c : cases) {
    const auto lookup = catalog.lookup(wire_name(c.name));
    EXPECT_EQ(lookup.outcome, c.outcome) << c.name;
    EXPECT_EQ(addresses_of(lookup), c.addresses) << c.name;
  }
}

TEST(DnsCatalog, MalformedNamesAreOutsideTheZone) {
  const DnsCatalog catalog = build_catalog(networks({HostnameEntries{{"10.0.0.1", "a"}}}));
  const Bytes names[] = {
      {},                                                 // nothing
      {1, 'a', 7, 'v', 'a', 'l', 'd', 'o', 'r', 'i'},     // no root label
      {1, 'a', 9, 'v', 'a', 'l', 'd', 'o', 'r', 'i', 0},  // label beyond the name
      {64, 'a', 0},                                       // label longer than 63
  };
  for (const Bytes& name : names) EXPECT_EQ(catalog.lookup(name).outcome, Outcome::OutsideZone) << name.size();
}

TEST(DnsCatalog, WithoutHostNamesTheZoneIsThereButEmpty) {
  const DnsCatalog initial;
  EXPECT_EQ(initial.lookup(wire_name("a.valdori.")).outcome, Outcome::OutsideZone);
  EXPECT_EQ(initial.lookup(wire_name("valdori.")).outcome, Outcome::OutsideZone);

  const DnsCatalog built = build_catalog(networks({std::nullopt, HostnameEntries{}}));
  EXPECT_EQ(built.lookup(wire_name("a.valdori.")).outcome, Outcome::NoSuchName);
  EXPECT_EQ(built.lookup(wire_name("valdori.")).outcome, Outcome::Found);
}

TEST(DnsCatalog, EveryNetworkContributesAndNamesCombine) {
  NetworkMap map = networks({HostnameEntries{{"10.0.0.1", "a"}, {"10.0.0.2", "shared"}},
                             HostnameEntries{{"10.1.0.9", "b"}, {"10.1.0.2", "shared"}, {"10.0.0.1", "A"}}});
  for (auto& [url, network] : map) network.disabled = true;
  const DnsCatalog catalog = build_catalog(map);

  EXPECT_EQ(addresses_of(catalog.lookup(wire_name("a.valdori."))), std::vector{addr("10.0.0.1")});
  EXPECT_EQ(addresses_of(catalog.lookup(wire_name("b.valdori."))), std::vector{addr("10.1.0.9")});
  auto shared = addresses_of(catalog.lookup(wire_name("shared.valdori.")));
  std::sort(shared.begin(), shared.end());
  EXPECT_EQ(shared, (std::vector{addr("10.0.0.2"), addr("10.1.0.2")}));
}

// A document checks its names lower-cased by the full Unicode mapping; they are served so too.
TEST(DnsCatalog, NamesAreServedUnderTheirFullLowerCaseForm) {
  const std::string kelvin_sign = "\xE2\x84\xAA";
  const std::string kelvin = kelvin_sign + "elvin";
  std::string kelvins;  // 66 bytes as written, "kkk..." of 22 once lower-cased
  for (int i = 0; i < 22; ++i) kelvins += kelvin_sign;
  const DnsCatalog catalog =
      build_catalog(networks({HostnameEntries{{"10.0.0.1", kelvin.c_str()}, {"10.0.0.2", kelvins.c_str()}}}));
  EXPECT_EQ(addresses_of(catalog.lookup(wire_name("Kelvin.valdori."))), std::vector{addr("10.0.0.1")});
  EXPECT_EQ(addresses_of(catalog.lookup(wire_name((std::string(22, 'k') + ".valdori.").c_str()))),
            std::vector{addr("10.0.0.2")});
}

TEST(DnsCatalog, NamesThatAreNoDnsLabelAreSkipped) {
  valdori::testing::LogCapture capture;
  const std::string too_long(64, 'x');
  const std::string huge(1 << 20, 'y');  // named in 512 bytes, and how much is left out
  const DnsCatalog catalog = build_catalog(networks({HostnameEntries{{"10.0.0.1", "a.b"},
                                                                     {"10.0.0.2", ""},
                                                                     {"10.0.0.3", too_long.c_str()},
                                                                     {"10.0.0.4", "ok"},
                                                                     {"10.0.0.5", "c\nd"},
                                                                     {"10.0.0.6", huge.c_str()}}}));
  EXPECT_EQ(catalog.lookup(wire_name("a.b.valdori.")).outcome, Outcome::NoSuchName);
  EXPECT_EQ(addresses_of(catalog.lookup(wire_name("ok.valdori."))), std::vector{addr("10.0.0.4")});
  EXPECT_EQ(capture.texts(log::Level::warn).size(), 4u);
  EXPECT_TRUE(capture.has(log::Level::warn, "Skipping host name that is not a DNS label: \"" + std::string(512, 'y') +
                                                "\"... (1048064 more bytes)"));
  EXPECT_TRUE(capture.has(log::Level::trace, "Adding DNS A record: ok.valdori -> 10.0.0.4"));
  EXPECT_TRUE(capture.has(log::Level::trace, "Adding DNS A record: c\\nd.valdori -> 10.0.0.5"));
  EXPECT_TRUE(capture.has(log::Level::trace, "Building DNS catalog"));
}

}  // namespace
}  // namespace valdori::agent::dns
