#include "linux/pipewire/RaopArguments.h"

#include <gtest/gtest.h>
#include <pipewire/properties.h>

#include <memory>

namespace brontide::linux::pipewire {
namespace {

// Reads the arguments back with PipeWire's own parser, as the module does.
struct Parsed {
  explicit Parsed(const std::string& args) : props(pw_properties_new_string(args.c_str()), &pw_properties_free) {}
  const char* operator[](const char* key) const { return pw_properties_get(props.get(), key); }
  std::unique_ptr<pw_properties, decltype(&pw_properties_free)> props;
};

TEST(RaopArguments, LibraryVersionParsesWhatTheLibraryReports) {
  EXPECT_EQ(LibraryVersion::parse("1.4.2"), (LibraryVersion{1, 4, 2}));
  EXPECT_EQ(LibraryVersion::parse("0.3.65"), (LibraryVersion{0, 3, 65}));
  EXPECT_EQ(LibraryVersion::parse("1.2"), (LibraryVersion{1, 2, 0}));
  EXPECT_EQ(LibraryVersion::parse("garbage"), (LibraryVersion{}));
  EXPECT_LT(LibraryVersion::parse("0.3.65"), LibraryVersion::parse("1.0.0"));
  EXPECT_GE(LibraryVersion::loaded(), (LibraryVersion{0, 3, 0}));
}

TEST(RaopArguments, EachLibraryGenerationReadsTheAddressFromItsOwnKey) {
  const AirPlayReceiver receiver{"Salón \"grande\"", "127.0.0.2", 5000, AirPlayTransport::tcp,
                                 AirPlayEncryption::rsa, "se\\creto"};
  const Parsed legacy(raopSinkArguments(receiver, "brontide.raop.7", "fan", {0, 3, 65}));
  EXPECT_STREQ(legacy["raop.hostname"], "127.0.0.2");
  EXPECT_EQ(legacy["raop.ip"], nullptr);
  EXPECT_STREQ(legacy["raop.port"], "5000");
  EXPECT_STREQ(legacy["raop.transport"], "tcp");
  EXPECT_STREQ(legacy["raop.encryption.type"], "RSA");
  EXPECT_STREQ(legacy["raop.password"], "se\\creto");
  EXPECT_EQ(legacy["raop.latency.ms"], nullptr);
  EXPECT_FALSE(raopSinkSendsVolume({0, 3, 65}));

  const Parsed current(raopSinkArguments(receiver, "brontide.raop.7", "fan", {1, 4, 2}));
  EXPECT_STREQ(current["raop.ip"], "127.0.0.2");
  EXPECT_STREQ(current["raop.name"], "Salón \"grande\"");
  EXPECT_STREQ(current["raop.port"], "5000");
  EXPECT_STREQ(current["raop.password"], "se\\creto");
  EXPECT_STREQ(current["raop.latency.ms"], "250");
  EXPECT_TRUE(raopSinkSendsVolume({1, 4, 2}));

  const Parsed stream(current["stream.props"]);
  EXPECT_STREQ(stream["node.name"], "brontide.raop.7");
  EXPECT_STREQ(stream["node.description"], "Salón \"grande\"");
  EXPECT_STREQ(stream["media.name"], "AirPlay: Salón \"grande\"");
  EXPECT_STREQ(stream["priority.session"], "0");
  EXPECT_STREQ(stream["node.group"], "fan");
  EXPECT_STREQ(stream["state.restore-props"], "false");
}

TEST(RaopArguments, NoPasswordNoPasswordKey) {
  const AirPlayReceiver receiver{"Cocina", "127.0.0.3", 7000, AirPlayTransport::udp, AirPlayEncryption::none, {}};
  const Parsed args(raopSinkArguments(receiver, "n", "fan", {1, 4, 2}));
  EXPECT_EQ(args["raop.password"], nullptr);
  EXPECT_STREQ(args["raop.encryption.type"], "none");
  EXPECT_STREQ(args["raop.transport"], "udp");
}

}  // namespace
}  // namespace brontide::linux::pipewire
