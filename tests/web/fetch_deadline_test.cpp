// The limit on the whole of a transfer: a server that keeps sending, slowly enough, under a
// huge Content-Length cannot hold a worker.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "raw_servers.h"
#include "web/http_fetch.h"

namespace qv {
namespace {

// Announces 2 GiB and sends one byte every 20 ms: never slow enough for the no-progress limit.
class TricklingServer {
 public:
  TricklingServer()
      : server_([](int fd, const std::atomic<bool>& stopping) {
          if (qvtest::ReadRequest(fd, stopping).empty()) return;
          if (!qvtest::WriteAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n")) {
            return;
          }
          while (!stopping && qvtest::WriteAll(fd, "x")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
          }
        }) {}
  int port() const { return server_.port(); }

 private:
  qvtest::ConnectionServer server_;
};

TEST(HttpFetchDeadline, ATricklingTransferEndsAtTheTotalLimitWithNoBody) {
  TricklingServer server;
  SetFetchTimeoutsForTesting(2000, 1000);
  SetFetchTotalTimeoutForTesting(600);
  Text headers;
  FetchArgs args;
  args.responseHeaders = &headers;
  const auto start = std::chrono::steady_clock::now();
  const std::string body =
      HttpFetch("http://127.0.0.1:" + std::to_string(server.port()) + "/chapter", args);
  const auto took = std::chrono::steady_clock::now() - start;
  SetFetchTotalTimeoutForTesting(0);
  SetFetchTimeoutsForTesting(0, 0);
  EXPECT_EQ(body, "");  // a cut-off body is no page
  EXPECT_TRUE(headers.starts_with("HTTP/1.1 200")) << headers;
  // Not a timing check: without the total limit this call would run for years.
  EXPECT_LT(took, std::chrono::seconds(20));
}

}  // namespace
}  // namespace qv
