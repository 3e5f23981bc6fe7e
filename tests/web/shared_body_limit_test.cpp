// The limit all transfers share: while one transfer holds most of it, another that would go
// past it ends without a body, and once the first is over its bytes are free again.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "test_site.h"
#include "web/body_limit.h"
#include "web/http_fetch.h"

namespace qv {
namespace {

TEST(SharedBodyLimit, TransfersTogetherStayUnderTheSharedLimit) {
  qvtest::TestSite site;
  const std::string big(700 * 1024, 'a');
  const std::string other(500 * 1024, 'b');
  site.Serve("hold.html", qvtest::SiteAnswer{.body = big, .contentType = "text/html; charset=gbk", .hang = true});
  site.Serve("other.html", other);
  SetHeldBodyLimitForTesting(1 << 20);

  // The first transfer receives its 700 KB and keeps its connection open.
  std::atomic<bool> cancel{false};
  std::thread holder([&] {
    FetchArgs args;
    args.cancel = &cancel;
    HttpFetch(site.Address("hold.html"), args);
  });
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (HeldBodyBytes() < big.size() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_GE(HeldBodyBytes(), big.size());

  // 700 KB + 500 KB would pass 1 MiB: the second transfer gets nothing, not a cut page.
  FetchArgs args;
  bool tooLarge = false;
  args.bodyTooLarge = &tooLarge;
  EXPECT_EQ(HttpFetch(site.Address("other.html"), args), "");
  EXPECT_FALSE(tooLarge);

  cancel = true;
  holder.join();
  EXPECT_EQ(HeldBodyBytes(), 0u);
  // With the first transfer over, the same page comes whole.
  EXPECT_EQ(HttpFetch(site.Address("other.html")), other);
  EXPECT_EQ(HeldBodyBytes(), 0u);
  SetHeldBodyLimitForTesting(0);
}

}  // namespace
}  // namespace qv
