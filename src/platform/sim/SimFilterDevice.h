// The filter device on the simulated bench: names resolve to a bench hub (either half), and
// requests go to its chip through the same request decoding as on Linux.
//
// Call behaviour:
//   pOpen       does not block; null when no hub sits at that name or it is off the bus, or
//               (EACCES) when the bench refuses permission for the hub.
//   eIoControl  blocks for the modelled transfer time (and, for an injected time-out, the
//               record's timeout on the bench clock). kLeftBus once the hub, or a hub above
//               it, has left the bus since the handle was opened, even when it is back: the
//               handle is dead.
#pragma once

#include "platform/FilterDevice.h"
#include "platform/sim/SimBench.h"

class CSimFilterDevicePlatform : public IFilterDevicePlatform {
 public:
  explicit CSimFilterDevicePlatform(CSimBench& bench) : m_bench(bench) {}
  std::unique_ptr<IFilterDeviceHandle> pOpen(const std::string& strName,
                                             std::string* pstrError = nullptr) override;

 private:
  CSimBench& m_bench;
};
