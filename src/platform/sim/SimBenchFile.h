// The simulated bench file (JSON): controllers, hubs on controller ports or on ports of other
// hubs, each hub's starting identity, registers, flash file and injected faults. Reading
// checks everything a bench needs before anything starts and names the first problem.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

enum class ESimFaultKind {
  kFail,          // the request fails
  kStall,         // the request stalls (fails as a stall does)
  kTimeout,       // the request fails after its whole timeout passed
  kGone,          // the hub leaves the bus at this request and does not come back
  kFlip,          // bits flipped in a read's answer, or in what the flash stores (the request's
                  // data, or the image)
  kEraseStuck,    // the erase started here (or next) never finishes
  kNoReturn,      // the reset triggered here (or next) leaves the hub off the bus for good
  kErasePartial,  // the erase started here (or next) reports done but leaves a range unerased
};
const char* pszSimFaultKindName(ESimFaultKind e);

// When a fault strikes: at the hub's Nth request (counted from 1 since the bench was
// loaded), or at the k-th request with a given request code. It then strikes `count`
// requests (fail, stall, timeout; 0 = every one from then on): the requests in a row for a
// fault named by count, the requests with that code for a fault named by code. Or by chance:
// each request (with that code, when one is given) is struck with a probability, drawn from
// the fault's seed, so a bench replays the same strikes.
struct SimFaultSpec {
  ESimFaultKind eKind = ESimFaultKind::kFail;
  uint64_t ullAtRequest = 0;  // 0 = not by count
  int nRequestCode = -1;      // -1 = not by code
  uint32_t uOccurrence = 1;
  double dProbability = 0;  // 0 = not by chance; otherwise the chance per request
  uint32_t uCount = 1;
  uint32_t uSeed = 1;    // strikes by chance and flip positions drawn from this seed
  uint32_t uBits = 1;    // flip: number of bits
  uint32_t uOffset = 0;  // erase_partial: the range left unerased, offsets within the
  uint32_t uLength = 0;  // erased image
};

// What a hub reports while its flash holds no valid, complete image: what a blank chip's
// boot code gives.
struct SimBootIdentitySpec {
  uint16_t usVID = 0x2F7B, usPID = 0x55AA, usPIDU2 = 0x55AA, usBcdDevice = 0x0100;
  std::string strManufacturer, strProduct, strSerial;
  std::array<uint8_t, 6> ucVersion{};  // the version area
};

struct SimControllerSpec {
  std::string strName;
  int nPorts = 4;
};

struct SimHubSpec {
  std::string strName;
  std::string strController;  // set for a hub on a controller (root hub) port
  std::string strParent;      // set for a hub on another hub's port
  int nPort = 1;
  bool bUsb3 = true;
  int nPorts = 4;
  uint16_t usVID = 0x2F7B, usPID = 0x55AA, usPIDU2 = 0x55AA, usBcdDevice = 0x0100;
  std::string strManufacturer, strProduct, strSerial;
  uint16_t usChipId = 0x6420;
  std::map<uint16_t, uint8_t> mapRegisters;    // start values, over the defaults
  std::array<uint8_t, 6> ucVersion{};          // version area when the flash holds no firmware
  std::optional<SimBootIdentitySpec> optBoot;  // "boot", its missing fields from the ones above
  std::string strFlash;                        // absolute path
  bool bSuspended = false;
  bool bPermissionDenied = false;  // opening the hub is refused (no udev rule)
  uint32_t uResetMs = 1000;        // time off the bus after a CPU reset
  uint32_t uAttachMs = 100;        // back after the hub above it is back
  uint32_t uEraseMs = 200;         // time of one erase phase
  uint32_t uPlugAtMs = 0;          // > 0: absent at load, plugged in at this tool time
  std::vector<SimFaultSpec> vecFaults;
  SimBootIdentitySpec stBootIdentity() const {
    return optBoot ? *optBoot : SimBootIdentitySpec{usVID,           usPID,      usPIDU2,   usBcdDevice,
                                                    strManufacturer, strProduct, strSerial, ucVersion};
  }
  // resolved by the reader
  int nControllerIndex = -1;  // the controller the hub's tree hangs from
  int nParentIndex = -1;      // -1 = on a controller port
};

struct SimBenchSpec {
  double dTimeScale = 1.0;  // 0: waits pass at once
  uint32_t uTransferLatencyUs = 0;
  std::vector<SimControllerSpec> vecControllers;
  std::vector<SimHubSpec> vecHubs;
  std::string strPath;  // the bench file, when read from one
  // The installed filter driver's version, or "none": not installed.
  std::string strFilterDriver = "1.0.7.0";
};

// Reads and checks a bench. On failure returns false and sets strError to one line naming
// the file and the problem. Flash files are not opened here.
bool bReadSimBenchFile(const std::string& strPath, SimBenchSpec& def, std::string& strError);
// The same from text; relative flash paths are taken relative to strBaseDir.
bool bParseSimBench(const std::string& strText, const std::string& strBaseDir, SimBenchSpec& def,
                    std::string& strError);
