// The filter driver's registration check and its installer and remover.
#include "host/USBUtility.h"
#include "log/DebugLog.h"
#include "platform/DeviceState.h"

bool CUSBUtility::bIsInstallVlntFilterDriverFromRegistry() {
  static const char* L = "CUSBUtility::bIsInstallVlntFilterDriverFromRegistry";
  if (!m_pFilterDriver) {
    vDEBUG_ERR_printf(L, "bRegistryReadWrite(REG_MULTI_SZ) Failed, wSubKey[%s], wKeyName[%s", "", "");
    return false;
  }
  if (m_pFilterDriver->bIsRegistered()) return true;
  vDEBUG_WRN_printf(L, "The Filter driver is not installed, strRegValue[%s]",
                    m_pFilterDriver->strRegistrationName().c_str());
  return false;
}

int CUSBUtility::InstallFilterDriver(uint8_t bInstall) {
  static const char* L = "CUSBUtility::InstallFilterDriver";
  if (!m_pFilterDriver) return 0;
  int nErr = m_pFilterDriver->nInstall(bInstall == 1);
  if (nErr != 0)
    vDEBUG_WRN_printf(L, "%s ended with %d", bInstall == 1 ? "InstallVlntDriver" : "RemoveVlntDriver", nErr);
  return 0;
}
