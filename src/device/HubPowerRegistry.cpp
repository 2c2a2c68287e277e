#include "device/HubPowerRegistry.h"

#include "platform/Text.h"

namespace {
bool bHas(const std::string& s, const char* p) {
  return s.find(p) != std::string::npos;
}
}  // namespace

HubPowerRegistryTarget stHubPowerRegistryTarget(uint8_t ucWinVersion, const std::string& strDevicePath,
                                                const std::string& strHubText,
                                                const std::string& strDriverName, const std::string& strVID,
                                                const std::string& strPID, const std::string& strInstanceId,
                                                const std::string& strDriverInstance) {
  const std::string strClassKey =
      std::string("SYSTEM\\CurrentControlSet\\Control\\Class\\{36FC9E60-C465-11CF-8056-444553540000}\\") +
      strDriverInstance;
  const std::string strTail =
      "VID_" + strVID + "&PID_" + strPID + "\\" + strInstanceId + "\\Device Parameters";
  const std::string strPath = strUpper(strDevicePath);
  const std::string strDrv = strUpper(strDriverName);
  if (ucWinVersion >= 0x10) {
    if (bHas(strPath, "VELNORUSBD_HUB"))
      return {"%s:%d: MCCI driver USB 3.0 on Win 8", strClassKey, "SelectiveSuspendEnabled"};
    if (bHas(strPath, "VELNORUSBD"))
      return {"%s:%d: Velnor driver USB 3.0 driver", strClassKey, "SelectiveSuspendEnabled"};
    // The hub text is upper-cased like every searched text, so the word is looked for so too.
    const std::string strHub = strUpper(strHubText);
    const std::string strInbox = "System\\CurrentControlSet\\Enum\\USB\\" + strTail;
    if (strHub.size() > 1 && strHub.find("ENHANCED", 1) != std::string::npos)
      return {"%s:%d: Win8 or Win10 Inbox driver", strInbox + "\\", "EnableSelectiveSuspend"};
    return {"%s:%d: Win8 or Win10 Inbox driver", strInbox + "\\WDF\\", "IdleInWorkingState"};
  }
  if (bHas(strPath, "VELNORUSBD"))
    return {"%s:%d: MCCI driver USB 3.0", strClassKey, "SelectiveSuspendEnabled"};
  if (bHas(strDrv, "IUSB"))
    return {"%s:%d: Intel driver USB 3.0 , HubName[%s]", "System\\CurrentControlSet\\Enum\\IUSB3\\" + strTail,
            "EnableSelectiveSuspend"};
  if (bHas(strDrv, "AMDUSB")) {
    bool bAmp = strInstanceId.size() > 1 && strInstanceId.find('&', 1) != std::string::npos;
    std::string strRoot =
        bAmp ? "System\\CurrentControlSet\\Enum\\USB\\" : "System\\CurrentControlSet\\Enum\\AMDUSB30\\";
    return {"%s:%d: AMD driver USB 3.0 , HubName[%s], strSN[%s]", strRoot + strTail,
            "EnableSelectiveSuspend"};
  }
  if (bHas(strDrv, "RENESAS_USB3"))
    return {"%s:%d: RENESAS driver USB 3.0 , HubName[%s]",
            "System\\CurrentControlSet\\Enum\\RENESAS_USB3\\" + strTail, "EnableSelectiveSuspend"};
  if (bHas(strDrv, "NUSB3"))
    return {"%s:%d: NEC driver USB 3.0 , HubName[%s]", "System\\CurrentControlSet\\Enum\\NUSB3\\" + strTail,
            "EnableSelectiveSuspend"};
  return {"%s:%d: Others driver USB 3.0 , HubName[%s]", "System\\CurrentControlSet\\Enum\\USB\\" + strTail,
          "EnableSelectiveSuspend"};
}
