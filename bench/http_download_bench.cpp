// Download throughput of a 5 MB body over loopback, plain HTTP and HTTPS,
// through downloadToFile and through the curl program against the same
// in-process server in the same run. Prints the median of several runs.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "console/core/console.h"
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
  double ours = 0;      // MB/s
  double curlRun = 0;   // MB/s over the whole curl run, process start included
  double curlOwn = 0;   // MB/s as curl itself reports the transfer
};

Figures measure(const std::string& url, const std::string& file, const std::string& caFile,
                const std::string& curlReport) {
  std::vector<double> ours, curlRun, curlOwn;
  for (int i = 0; i < kRuns; ++i) {
    auto t0 = Clock::now();
    DownloadResult r = downloadToFile(url, file, stationListDownload());
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (!r.ok || r.bytes != kBodySize) {
      std::fprintf(stderr, "download failed: %s\n", netFailureName(r.failure));
      return {};
    }
    ours.push_back(kBodySize / s / 1e6);

    std::vector<std::string> argv = {"curl", "-s", "-o", file, "-w", "%{speed_download}", url};
    if (!caFile.empty()) argv.insert(argv.begin() + 1, {"--cacert", caFile});
    t0 = Clock::now();
    int rc = test::runProgram(argv, true, curlReport);
    s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (rc != 0) {
      std::fprintf(stderr, "curl failed (%d)\n", rc);
      return {};
    }
    curlRun.push_back(kBodySize / s / 1e6);
    std::ifstream in(curlReport);
    double bytesPerSecond = 0;
    in >> bytesPerSecond;
    curlOwn.push_back(bytesPerSecond / 1e6);
  }
  return {median(ours), median(curlRun), median(curlOwn)};
}

void print(const char* what, const Figures& f) {
  std::printf("%-6s ours %7.1f MB/s | curl -o: whole run %7.1f MB/s, own figure %7.1f MB/s | "
              "ours / curl's own %.2f\n",
              what, f.ours, f.curlRun, f.curlOwn, f.curlOwn > 0 ? f.ours / f.curlOwn : 0.0);
}

}  // namespace

int main() {
  // The sockets layer serves the console while it waits: give it one that
  // opens no window and reads no keys.
  setConsoleFrontend(std::make_unique<platform::HeadlessFrontend>(-1));
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

  std::printf("body %zu bytes over loopback, median of %d runs\n", kBodySize, kRuns);
  const std::string report = certs.folder() + "/curl-report.txt";
  print("HTTP", measure(plain.url("/body"), file, "", report));
  print("HTTPS", measure("https://localhost:" + std::to_string(secure.port()) + "/body", file,
                         certs.caFile(), report));
  netCleanup();
  return 0;
}
