// One TFTP transfer with the tool's client, timed: `upload CLOCK FILE` writes
// FILE to the server, `download CLOCK NAME FOLDER` reads /usr/tftpfile/NAME.
// Prints the seconds it took and exits non-zero when the transfer failed.
// bench/tftp.sh runs it beside the tftp-hpa client.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Ipv4.h"
#include "tftp/TftpClient.h"

namespace {

class QuietProgress : public marindo::UploadProgress {
 public:
  void Start() override {}
  void Block(std::uint64_t, std::uint64_t) override {}
  void Finish(std::uint64_t, std::uint64_t) override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: tftp_bench upload CLOCK FILE | download CLOCK NAME FOLDER\n");
    return 2;
  }
  const std::optional<std::uint32_t> clock = marindo::ParseIpv4(argv[2]);
  if (!clock) return 2;
  marindo::TftpClient client(marindo::CodePage::Cp1252);
  const auto start = std::chrono::steady_clock::now();
  bool ok = false;
  if (std::strcmp(argv[1], "upload") == 0) {
    QuietProgress progress;
    ok = client.UploadFile(*clock, argv[3], progress) == 0;
  } else if (argc > 4) {
    ok = client.DownloadFile(*clock, argv[3], argv[4]) == marindo::DownloadOutcome::Done;
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%.3f\n", took.count());
  return ok ? 0 : 1;
}
