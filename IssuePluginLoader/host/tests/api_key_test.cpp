// A connection that signs in with an API key: the host asks for the key where it would ask for
// the password, and doctor says whose key it is.
#include "host_fixture.h"

namespace host_test {
namespace {

constexpr const char* kAliceKey = "AliceApiKey0123456789abcdefghijKLMNOPQRS";
constexpr const char* kBobKey = "BobApiKey0123456789abcdefghijKLMNOPQRSTU";

class ApiKey : public HostTest {
protected:
  void SetUp() override {
    HostTest::SetUp();
    test_support::ConnectionSpec spec = demo_connection();
    spec.extra = "<authentication>api_key</authentication>";
    write_connections({spec});
  }

  Outcome with_key(std::vector<std::string> args, const char* key) {
    RunOptions options;
    if (key != nullptr) options.env["BUGZILLA_PASSWORD"] = key;
    else options.unset = {"BUGZILLA_PASSWORD"};
    return host(args, options);
  }
};

TEST_F(ApiKey, TheKeyIsAskedForAndUsedInPlaceOfThePassword) {
  const Outcome missing = with_key({"list", "--connection", "Demo", "--user", kDemoUser}, nullptr);
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(contains(missing.err, "no API key: give --password-file FILE")) << missing.err;

  const Outcome listed = with_key({"list", "--connection", "Demo", "--user", kDemoUser}, kAliceKey);
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_FALSE(contains(listed.out + listed.err, kAliceKey));
}

struct KeyCase {
  const char* name;
  const char* key;
  bool old_server;
  int status;
  const char* detail;
};

void PrintTo(const KeyCase& c, std::ostream* out) { *out << c.name; }

class DoctorKey : public ApiKey, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(DoctorKey, SaysWhoseKeyItIs) {
  const KeyCase& c = GetParam();
  if (c.old_server) server_->configure("api_keys", XmlRpc::XmlRpcValue(false));
  const Outcome run =
      with_key({"doctor", "--connection", "Demo", "--user", kDemoUser, "--json"}, c.key);
  EXPECT_EQ(run.status, c.status) << run.out;
  auto json = flatten_json(run.out);
  EXPECT_EQ(json["/steps/6/step"], "login");
  EXPECT_TRUE(contains(json["/steps/6/detail"], c.detail)) << json["/steps/6/detail"];
  EXPECT_FALSE(contains(run.out + run.err, c.key));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DoctorKey,
    ::testing::Values(
        KeyCase{"TheLogins", kAliceKey, false, 0, "the API key belongs to alice@example.com"},
        KeyCase{"SomeoneElses", kBobKey, false, 1, "the API key belongs to someone else"},
        KeyCase{"UnknownOrRevoked", "NoSuchKey0123456789abcdefghijKLMNOPQRSTU", false, 1,
                "does not know the API key, or it was revoked"},
        KeyCase{"ServerTooOld", kAliceKey, true, 1, "the server is too old for API keys"}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

}  // namespace
}  // namespace host_test
