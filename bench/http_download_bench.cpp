// Download throughput of a 5 MB body over loopback, plain HTTP and HTTPS,
// through downloadToFile and through the curl program against the same
// in-process server in the same run. Prints the median of several runs.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "net/http_download.h"
#include "net/sockets.h"
#include "support/local_server.h"

using namespace ondaria;
using Clock = std::chrono::steady_clock;

namespace {

// 5 MB: large enough that connection set-up is a small share of the time.
constexpr std::size_t kBodySize = 5 * 1024 * 1024;
constexpr int kRuns = 7;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Figures {
  double ours = 0;  // MB/s
  double curl = 0;  // MB/s, -1 when curl failed
};

Figures measure(const std::string& url, const std::string& file, const std::string& caFile) {
  std::vector<double> ours, curl;
  for (int i = 0; i < kRuns; ++i) {
    auto t0 = Clock::now();
    DownloadResult r = downloadToFile(url, file, stationListDownload());
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (!r.ok || r.bytes != kBodySize) {
      std::fprintf(stderr, "download failed: %s\n", netFailureName(r.failure));
      return {};
    }
    ours.push_back(kBodySize / s / 1e6);

    std::vector<std::string> argv = {"curl", "-s", "-o", file, url};
    if (!caFile.empty()) argv.insert(argv.begin() + 1, {"--cacert", caFile});
    t0 = Clock::now();
    int rc = test::runProgram(argv);
    s = std::chrono::duration<double>(Clock::now() - t0).count();
    curl.push_back(rc == 0 ? kBodySize / s / 1e6 : -1);
  }
  return {median(ours), median(curl)};
}

void print(const char* what, const Figures& f) {
  std::printf("%-6s ours %8.1f MB/s   curl -o %8.1f MB/s   ratio %.2f\n", what, f.ours, f.curl,
              f.curl > 0 ? f.ours / f.curl : 0.0);
}

}  // namespace

int main() {
  if (!netStartup()) return 1;
  test::TestCertificates certs;
  if (!certs.ok()) {
    std::fprintf(stderr, "the openssl program could not make certificates\n");
    return 1;
  }
  setenv("SSL_CERT_FILE", certs.caFile().c_str(), 1);
  std::string body(kBodySize, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 31 + (i >> 12));
  const std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\n\r\n" + body;
  auto handler = [&](test::ServerConnection& c) {
    c.readRequest();
    c.send(answer);
  };
  test::LocalServer plain(handler);
  test::LocalServer secure(handler, &certs.good());
  const std::string file = certs.folder() + "/body.bin";

  std::printf("body %zu bytes, median of %d runs (curl includes its process start)\n", kBodySize,
              kRuns);
  print("HTTP", measure(plain.url("/body"), file, ""));
  print("HTTPS", measure("https://localhost:" + std::to_string(secure.port()) + "/body", file,
                         certs.caFile()));
  netCleanup();
  return 0;
}
