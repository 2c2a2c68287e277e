#include "platform/sim/SimFilterDevice.h"

#include <cerrno>

namespace {
class CSimFilterDeviceHandle : public IFilterDeviceHandle {
 public:
  CSimFilterDeviceHandle(CSimBench& bench, int nHub, bool bSuperSpeed, uint64_t ullSession,
                         std::string strName)
      : m_bench(bench),
        m_nHub(nHub),
        m_bSuperSpeed(bSuperSpeed),
        m_ullSession(ullSession),
        m_strName(std::move(strName)) {}

  EFilterResult eIoControl(uint32_t dwCode, const uint8_t* pIn, size_t ulInLen, uint8_t* pOut,
                           size_t ulOutLen, size_t* pulTransferred) override {
    if (pulTransferred) *pulTransferred = 0;
    UsbControlSetup s;
    if (!bBuildControlSetup(dwCode, pIn, ulInLen, ulOutLen, s) || (s.bIn && s.wLength && !pOut)) {
      vSetFilterLastError(EINVAL);
      return EFilterResult::kFailed;
    }
    size_t ulDone = 0;
    EFilterResult e = m_bench.eTransfer(m_nHub, m_ullSession, m_bSuperSpeed, s, pOut, &ulDone);
    // The same end of an IN transfer as on a real hub.
    if (s.bIn) e = eFinishInTransfer(dwCode, e, pOut, ulOutLen, ulDone, EIO);
    if (e == EFilterResult::kSuccess && pulTransferred) *pulTransferred = ulDone;
    return e;
  }
  const std::string& strName() const override { return m_strName; }
  bool bGetDeviceIdentity(FilterDeviceIdentity& id) override {
    return m_bench.bDeviceIdentity(m_nHub, m_ullSession, m_bSuperSpeed, id);
  }

 private:
  CSimBench& m_bench;
  int m_nHub;
  bool m_bSuperSpeed;
  uint64_t m_ullSession;
  std::string m_strName;
};
}  // namespace

std::unique_ptr<IFilterDeviceHandle> CSimFilterDevicePlatform::pOpen(const std::string& strName,
                                                                     std::string* pstrError) {
  bool bSS = false;
  int h = m_bench.nResolveName(strName, bSS);
  if (h >= 0 && m_bench.hubSpec(h).bPermissionDenied) {
    vSetFilterLastError(EACCES);
    if (pstrError) *pstrError = "no permission to open " + strName;
    return nullptr;
  }
  uint64_t ullSession = 0;
  if (h < 0 || !m_bench.bOpenSession(h, ullSession)) {
    vSetFilterLastError(ENODEV);
    if (pstrError) *pstrError = "no device at " + strName;
    return nullptr;
  }
  return std::make_unique<CSimFilterDeviceHandle>(m_bench, h, bSS, ullSession, strName);
}
