// A USB mass-storage device (bulk-only transport) on USB/IP whose drive is a hub's storage
// bridge: the commands of the bridge (registers, disconnect, the ATA pass-through of FLUSH
// CACHE and STANDBY IMMEDIATE, the PD controller's) go to the project's bridge model
// (platform/sim CSimStorageBridge); what the kernel's disk driver needs of any disk (INQUIRY,
// TEST UNIT READY, READ CAPACITY, MODE SENSE, READ and WRITE on a small disk in memory,
// REQUEST SENSE) is answered here, as the bridge's own disk would.
//
// Not thread-safe: one transport thread serves it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/sim/SimStorageBridge.h"
#include "platform/sim/SimUsbIpLink.h"

class CUsbIpDisk {
 public:
  explicit CUsbIpDisk(CSimStorageBridge& bridge);

  // One submit of the host controller; false when the link has failed.
  bool bSubmit(CSimUsbIpLink& link, const UsbIpSubmit& sub);
  uint64_t ullCommands() const { return m_ullCommands; }

 private:
  enum class EPhase { kCommand, kDataOut, kDataIn, kStatus };
  bool bControl(CSimUsbIpLink& link, const UsbIpSubmit& sub);
  void vCommand(const std::vector<uint8_t>& cbw);
  // Runs the command of the current CBW with its data (out: received; in: to send).
  void vExecute();
  bool bDisk(const uint8_t* cdb, uint8_t& ucStatus);
  void vSense(uint8_t ucKey, uint8_t ucAsc, uint8_t ucAscq);
  bool bSendIn(CSimUsbIpLink& link);

  CSimStorageBridge& m_bridge;
  uint64_t m_ullSession = 0;
  std::vector<uint8_t> m_vecDisk;
  std::vector<uint8_t> m_vecSense;  // what REQUEST SENSE returns next

  EPhase m_ePhase = EPhase::kCommand;
  uint32_t m_ulTag = 0, m_ulExpected = 0;
  bool m_bDataIn = false;
  std::vector<uint8_t> m_vecCdb;
  std::vector<uint8_t> m_vecData;  // out: received so far; in: the answer
  size_t m_ulSent = 0;
  uint8_t m_ucStatus = 0;  // the CSW status: 0 passed, 1 failed
  uint64_t m_ullCommands = 0;
};
