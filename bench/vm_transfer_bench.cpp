// Time of one control transfer through the Linux filter device (libusb on usbfs) against a
// bare USBDEVFS_CONTROL ioctl on the same device node, on a real kernel: the VM test runs it
// in its guest against the gadget hub. Goal: backend / bare <= 1.1.
//   bench_vm_transfer_bench DEVICE [COUNT]    DEVICE: a filter device name, "usb:3-1"
// Both send the same one-byte register read (vendor request 0x52 of the chip id register),
// in alternating rounds so that a drift of the machine weighs on both alike. Prints one
// JSON object: the mean time of each in microseconds and their ratio.
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/FileDescriptor.h"
#include "platform/FilterDevice.h"
#include "platform/linux/LibusbFilterDevice.h"

namespace {
constexpr uint8_t REQ_REG_READ = 0x52;
constexpr uint16_t REG_CHIP_ID = 0x5820;
constexpr int ROUNDS = 10;

double dNowUs() {
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DEVICE [COUNT]\n", argv[0]);
    return 2;
  }
  const std::string strName = argv[1];
  const int nCount = argc > 2 ? std::max(ROUNDS, std::atoi(argv[2])) : 1000;
  CLibusbFilterDevicePlatform platform;
  std::string strError;
  auto h = platform.pOpen(strName, &strError);
  std::string strNode;
  if (!h || nUsbDeviceNode(strName, "/sys/bus/usb/devices", "/dev/bus/usb", strNode) != 0) {
    std::fprintf(stderr, "cannot open %s: %s\n", strName.c_str(), strError.c_str());
    return 1;
  }
  CFileDescriptor fd(::open(strNode.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd.bValid()) {
    std::perror(strNode.c_str());
    return 1;
  }
  uint8_t rec[FILTER_RECORD_SIZE];
  FilterRequestRecord{
      FILTER_DEFAULT_TIMEOUT_MS, FILTER_TYPE_VENDOR, FILTER_RECIPIENT_DEVICE, REQ_REG_READ, 0, REG_CHIP_ID}
      .vEncode(rec);
  uint8_t ucByte = 0;
  usbdevfs_ctrltransfer ct{};
  ct.bRequestType = 0xC0;
  ct.bRequest = REQ_REG_READ;
  ct.wValue = 0;
  ct.wIndex = REG_CHIP_ID;
  ct.wLength = 1;
  ct.timeout = FILTER_DEFAULT_TIMEOUT_MS;
  ct.data = &ucByte;
  double dBackendUs = 0, dBareUs = 0;
  int nFailed = 0;
  const int nPerRound = nCount / ROUNDS;
  for (int r = 0; r < ROUNDS; ++r) {
    double t0 = dNowUs();
    for (int i = 0; i < nPerRound; ++i) {
      size_t n = 0;
      if (h->eIoControl(VLNTFILTER0_IOCTL_VENDOR_READ, rec, sizeof rec, &ucByte, 1, &n) !=
          EFilterResult::kSuccess)
        ++nFailed;
    }
    double t1 = dNowUs();
    for (int i = 0; i < nPerRound; ++i)
      if (::ioctl(fd.get(), USBDEVFS_CONTROL, &ct) != 1) ++nFailed;
    double t2 = dNowUs();
    dBackendUs += t1 - t0;
    dBareUs += t2 - t1;
  }
  const double dN = static_cast<double>(nPerRound) * ROUNDS;
  std::printf(
      "{\"transfers\": %d, \"failed\": %d, \"backend_us\": %.1f, \"bare_us\": %.1f, \"ratio\": %.3f}\n",
      nPerRound * ROUNDS, nFailed, dBackendUs / dN, dBareUs / dN, dBackendUs / dBareUs);
  return nFailed ? 1 : 0;
}
