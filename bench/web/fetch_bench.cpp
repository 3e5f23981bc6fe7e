// Fetch rate of HttpFetch with 20 threads against `curl --parallel --parallel-max 20` over the
// same 2,000 small pages of a local nginx, measured side by side; and the peak memory of
// decoding a 50 MiB gzip page.
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gzip.h"
#include "raw_servers.h"
#include "web/http_fetch.h"
#include "web/response_decoder.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPages = 2000;
constexpr int kThreads = 20;
constexpr int kRounds = 5;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Kilobytes of a "VmRSS:"-style line of /proc/self/status.
long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
  }
  return -1;
}

std::string PageText(int i) {
  std::string s = "<html><body><div id=\"content\">";
  for (int k = 0; s.size() < 1500; ++k) s += "chapter " + std::to_string(i) + " line " + std::to_string(k) + "<br />";
  return s + "</div></body></html>";
}

double RunHttpFetch(const std::vector<std::string>& urls, const std::vector<size_t>& sizes,
                    int* failures) {
  std::atomic<int> next{0};
  std::atomic<int> bad{0};
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = next++; i < static_cast<int>(urls.size()); i = next++) {
        if (qv::HttpFetch(urls[i]).size() != sizes[i]) ++bad;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  *failures = bad.load();
  return Seconds(Clock::now() - start);
}

double RunCurl(const std::string& configFile, int* status) {
  const auto start = Clock::now();
  *status = qvtest::RunCommand({"curl", "--silent", "--parallel", "--parallel-max",
                                     std::to_string(kThreads), "--config", configFile});
  return Seconds(Clock::now() - start);
}

int FetchBench() {
  qvtest::LocalNginx nginx;
  if (!nginx.ok()) {
    std::fprintf(stderr, "nginx did not start:\n%s\n", nginx.ErrorLog().c_str());
    return 1;
  }
  std::filesystem::create_directories(nginx.www() / "p");
  std::vector<std::string> urls;
  std::vector<size_t> sizes;
  const std::filesystem::path config = nginx.www() / "curl.cfg";
  std::ofstream cfg(config);
  for (int i = 0; i < kPages; ++i) {
    const std::string page = PageText(i);
    std::ofstream(nginx.www() / "p" / (std::to_string(i) + ".html")) << page;
    urls.push_back(nginx.HttpUrl("/p/" + std::to_string(i) + ".html"));
    sizes.push_back(page.size());
    cfg << "url = \"" << urls.back() << "\"\noutput = \"/dev/null\"\n";
  }
  cfg.close();

  int failures = 0, status = 0;
  RunHttpFetch(urls, sizes, &failures);  // warm-up: connections, page cache
  RunCurl(config.string(), &status);
  std::vector<double> ours, theirs;
  for (int r = 0; r < kRounds; ++r) {
    ours.push_back(RunHttpFetch(urls, sizes, &failures));
    if (failures != 0) std::fprintf(stderr, "HttpFetch: %d pages wrong\n", failures);
    theirs.push_back(RunCurl(config.string(), &status));
    if (status != 0) std::fprintf(stderr, "curl exit status %d\n", status);
  }
  std::sort(ours.begin(), ours.end());
  std::sort(theirs.begin(), theirs.end());
  const double oursRate = kPages / ours[kRounds / 2];
  const double curlRate = kPages / theirs[kRounds / 2];
  std::printf("%d pages (%zu bytes each), median of %d rounds\n", kPages, sizes[0], kRounds);
  std::printf("HttpFetch, %d threads:                 %8.0f pages/s\n", kThreads, oursRate);
  std::printf("curl --parallel --parallel-max %d:     %8.0f pages/s\n", kThreads, curlRate);
  std::printf("ratio HttpFetch / curl:                %8.2f\n", oursRate / curlRate);
  return 0;
}

// Child mode: decode the gzip file and report memory before and at the peak.
int DecodeChild(const char* file) {
  std::string body;
  {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    body = s.str();
  }
  const size_t packedSize = body.size();
  const long before = StatusKb("VmRSS:");
  const auto start = Clock::now();
  const qv::Text text =
      qv::ResponseDecoder::DecodeBody(body, "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n");
  const double took = Seconds(Clock::now() - start);
  const long peak = StatusKb("VmHWM:");
  std::printf("gzip page: %.1f MiB packed, %.1f MiB unpacked, text %.1f MiB, %.2f s\n",
              packedSize / 1048576.0, body.size() / 1048576.0, text.size() / 1048576.0, took);
  std::printf("resident before decode %ld KiB, peak %ld KiB, peak rise %.1f MiB\n", before, peak,
              (peak - before) / 1024.0);
  return text.size() == body.size() ? 0 : 1;
}

int GzipBench(const char* self) {
  qvtest::TempDir dir;
  std::string page;
  page.reserve(50u << 20);
  for (int i = 0; page.size() < (50u << 20); ++i) {
    page += "\xE7\xAC\xAC" + std::to_string(i) + " line of the chapter text, " +
            std::to_string(i * 2654435761u % 1000003) + "<br />\n";
  }
  page.resize(50u << 20);
  const std::string packed = qvtest::GzipBytes(page, 6);
  const std::filesystem::path file = dir.path() / "page.gz";
  std::ofstream(file, std::ios::binary) << packed;
  std::printf("50 MiB page packs to %.1f MiB\n", packed.size() / 1048576.0);
  std::fflush(stdout);
  return qvtest::RunCommand({self, "--decode", file.string()}, true);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--decode") return DecodeChild(argv[2]);
  const int a = FetchBench();
  const int b = GzipBench("/proc/self/exe");
  return a != 0 ? a : b;
}
