// The demo's book site keeps answering while the program holds all its connections open: the
// program keeps up to 20 connections alive at once, and a request on a newer one must not wait
// for an older one to be let go.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "demo_site.h"
#include "web/http_fetch.h"

namespace {

// A kept-alive connection that has had one page answered and then stays open, idle.
class IdleConnection {
 public:
  explicit IdleConnection(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
    // An answer that takes seconds is one that waited for another connection to be let go.
    const timeval limit{3, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const std::string request = "GET /book/1.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) return;
    // Reads until the whole answer is in: its head, then Content-Length bytes.
    std::string got;
    char buf[4096];
    for (;;) {
      const size_t head = got.find("\r\n\r\n");
      if (head != std::string::npos) {
        const size_t at = got.find("Content-Length: ");
        if (at != std::string::npos && at < head) {
          const size_t length = std::stoul(got.substr(at + 16));
          if (got.size() >= head + 4 + length) {
            answered_ = got.starts_with("HTTP/1.1 200");
            return;
          }
        }
      }
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return;
      got.append(buf, static_cast<size_t>(n));
    }
  }
  ~IdleConnection() {
    if (fd_ >= 0) ::close(fd_);
  }
  IdleConnection(const IdleConnection&) = delete;
  IdleConnection& operator=(const IdleConnection&) = delete;
  bool answered() const { return answered_; }

 private:
  int fd_;
  bool answered_ = false;
};

TEST(DemoSite, AnswersANewConnectionWhileTwentyOthersAreKeptAlive) {
  httplib::Server server;
  qv::demo::ConfigureDemoSite(server);
  const int port = server.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  std::thread serving([&] { server.listen_after_bind(); });
  // Stops the server however the test ends.
  struct Stop {
    httplib::Server& server;
    std::thread& serving;
    ~Stop() {
      server.stop();
      serving.join();
    }
  } stop{server, serving};
  for (int i = 0; i < 2000 && !server.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(server.is_running());

  {
    std::vector<std::unique_ptr<IdleConnection>> open;
    for (int i = 0; i < 20; ++i) {
      open.push_back(std::make_unique<IdleConnection>(port));
      ASSERT_TRUE(open.back()->answered()) << "connection " << i + 1;
    }
    // A server with a thread per kept-alive connection and fewer threads than that would leave
    // this request waiting until an idle connection times out (seconds); here it is answered
    // well within the limit the test gives it.
    qv::SetFetchTotalTimeoutForTesting(3000);
    const std::string page =
        qv::HttpFetch("http://127.0.0.1:" + std::to_string(port) + "/book/index.html");
    qv::SetFetchTotalTimeoutForTesting(0);
    EXPECT_NE(page.find("og:novel:book_name"), std::string::npos);
  }
}

}  // namespace
