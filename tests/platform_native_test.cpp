// The native build ships no HTTP client: its own table fails every HTTP
// operation, so http_post without a test double never reaches a network.
#include <gtest/gtest.h>

#include <string>

#include "gmt/http_fetch.h"
#include "gmt/platform.h"

namespace {

TEST(NativePlatform, HasNoHttpClient) {
  const kestrune::PlatformOps& ops = kestrune::production_platform();
  EXPECT_EQ(ops.http_open(u"agent"), nullptr);
  std::string body = "unchanged";
  EXPECT_EQ(kestrune::http_post("localhost", "/", body),
            kestrune::FETCH_OPEN_FAILED);
  EXPECT_EQ(body, "unchanged");
}

}  // namespace
