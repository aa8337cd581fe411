// melbax: command-line host for the driver.
#include <cstdio>
#include <cstring>
#include <string>

#include "melbax/driver.h"

namespace {

int Usage(FILE* out) {
  std::fputs(
      "usage: melbax [--driver PATH] info\n"
      "  info   show the driver's device name, banner and default line\n",
      out);
  return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string driverPath = melbax::DefaultDriverPath();
  int arg = 1;
  for (; arg < argc && argv[arg][0] == '-'; ++arg) {
    if (std::strcmp(argv[arg], "--driver") == 0 && arg + 1 < argc) {
      driverPath = argv[++arg];
    } else if (std::strcmp(argv[arg], "--help") == 0) {
      return Usage(stdout);
    } else {
      std::fprintf(stderr, "melbax: unknown option %s\n", argv[arg]);
      return Usage(stderr);
    }
  }
  if (arg >= argc || std::strcmp(argv[arg], "info") != 0) return Usage(stderr);

  std::string error;
  auto driver = melbax::Driver::Load(driverPath, error);
  if (!driver) {
    std::fprintf(stderr, "melbax: %s\n", error.c_str());
    return 2;
  }
  const DriverInfo& info = driver->info();
  std::printf("driver:        %s\n", driver->path().c_str());
  std::printf("device:        %s\n", info.deviceName);
  std::printf("instance size: %u bytes\n", info.instanceSize);
  std::printf(
      "default line:  %d baud, %u data bits, stop code %u, parity code %u\n",
      info.line.baudRate, info.line.byteSize, info.line.stopBits,
      info.line.parity);
  std::printf("%s", info.banner);
  return 0;
}
