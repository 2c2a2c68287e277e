// The device access object: one per process. It reaches the device list through m_pDevList
// and addresses every hub by its device index n (0..15). Each hub operation opens the
// hub's filter device named by the record's m_strHubObjectName, performs its requests
// through the filter command channel and closes the handle before it returns; no handle
// outlives an operation, so workers call these at once for different hubs.
//
// The class is split over several files: VlntUSBDev.cpp opens the hubs' filter devices and
// tells the operator about refused ones; VlntUSBDev_Hub.cpp holds the hub flash and register
// operations; VlntUSBDev_Walk.cpp the USB walk, VlntUSBDev_Ident.cpp the target hub
// identification and DeviceState.cpp the rescan, hub restart and hub power.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "device/UsbWalk.h"  // USB walk and identification
#include "device/VLNTFILTER0.h"
#include "host/DeviceList.h"
#include "images/FlashImage.h"
#include "platform/Clock.h"
#include "platform/FilterDevice.h"
#include "platform/ScsiPassThrough.h"
#include "platform/UsbTree.h"

constexpr uint32_t HUB_IMAGE_SIZE = 0x10000;  // a full read-back: configuration, then firmware area
constexpr uint32_t HUB_FIRMWARE_AREA = 0x100;
// The identity a hub starts with when its flash holds no valid configuration block.
constexpr uint16_t HUB_BLANK_VID = 0x2F7B, HUB_BLANK_PID = 0x55AA, HUB_BLANK_PID_U2 = 0x55AB;

// Speed codes of vGetHubSpeedRate.
constexpr uint8_t HUB_SPEED_5G_X1 = 2, HUB_SPEED_5G_X2 = 3, HUB_SPEED_10G_X1 = 4, HUB_SPEED_10G_X2 = 5,
                  HUB_SPEED_UNKNOWN = 0xFF;

class CVlntUSBDev {
 public:
  CVlntUSBDev(IFilterDevicePlatform& platform, CVLNTFILTER0& filter, IClock& clock);
  virtual ~CVlntUSBDev();
  CVlntUSBDev(const CVlntUSBDev&) = delete;
  CVlntUSBDev& operator=(const CVlntUSBDev&) = delete;

  // --- wiring ---
  void vSetDevList(DeviceList* pDevList) { m_pDevList = pDevList; }
  // The program folder; the flash image is <folder>/VLNFW_Temp/TempBinData.bin.
  void vSetAppPath(const std::string& strAppPath) { m_strAppPath = strAppPath; }
  // What "ask the system to rescan for hardware changes" does (device state control).
  void vSetRescanHandler(std::function<void()> fn) { m_fnRescan = std::move(fn); }
  // Where identification looks up the storage drive behind each hub; null leaves the
  // records' drive fields at their free values. Not owned.
  void vSetStorageDriveFinder(IStorageDriveFinder* pFinder) { m_pStorageDrives = pFinder; }
  // Where operator messages (a refused device permission) go: a message box (the window), or
  // standard error and "ProgramMSG.txt" (window-less modes), through the utilities given to
  // vSetWalkPlatform; or standard error only (maintenance commands).
  enum class EOperatorMessages { Box, FileAndStderr, StderrOnly };
  void vSetOperatorMessages(EOperatorMessages e) { m_eMessages = e; }
  DeviceList* m_pDevList = nullptr;

  // --- operator messages ---
  // Tells the operator that opening strDevice was refused and what to install; once per
  // device for the life of the object (a scan that meets the hub again stays quiet).
  void vReportPermissionRefused(const std::string& strDevice);

  // --- hub flash and register operations (VlntUSBDev_Hub.cpp) ---
  // The identities record n's hub may report now: the walk's, those the run's configuration
  // table gives it after a reset, and the blank chip's. An erase or a download goes only to a
  // hub that reports one of them.
  std::vector<FilterDeviceIdentity> vecExpectedIdentities(int n) const;
  // Integer results: 0 success, negative failure (-1 failed, -4 no hub or cannot open,
  // -10 bad argument). Boolean results: 1 / 0. Waits end early on a stop request.
  int VLN318xAccessRegister(int n, uint8_t* pBuf, uint32_t dwLen, uint16_t usAddr, bool bWrite);
  int VLN318xBlockErase(int n, uint8_t ucBlock, std::stop_token st = {});
  int VLN318xConfigWrite(int n, const uint8_t* pBlock, uint8_t ucValue, bool bCPUA);
  int VLN318xConfigRead(int n, uint8_t* pBuf, uint32_t dwSize, uint8_t ucValue, bool bCPUA);
  int VLN318xFirmwareWrite(int n, uint8_t ucValue, bool bCPUA, const std::string& strImagePath);
  int VLN318xFirmwareRead(int n, uint8_t* pBuf, uint8_t ucValue, bool bCPUA);  // pBuf: 65280 bytes
  int VLN318xReset(int n, uint8_t ucMode, std::stop_token st = {});
  // mode 2 erase block ucValue; mode 1 erase and write pBuf; other modes read into pBuf.
  bool bAccessHubConfig(int n, int nMode, uint8_t* pBuf, uint8_t ucValue, bool bCPUA,
                        std::stop_token st = {});
  bool bReadHubSPIROM(int n, uint8_t* pBuf, uint8_t ucValue, bool bCPUA,
                      std::stop_token st = {});  // 65536 bytes
  int vUpdateHubFirmware(int n, uint8_t ucValue, bool bIsCPU_A, std::stop_token st = {});
  uint8_t vGetHubSpeedRate(int n, uint8_t ucPort);
  uint8_t vGetHubCcOrien(int n);

  // --- USB walk (VlntUSBDev_Walk.cpp) ---
  void vSetWalkPlatform(IUsbTree* pTree, IDeviceState* pState, IFilterDriverStatus* pDriver,
                        CUSBUtility* pUtility);
  int Open(DeviceList* pDevList, const std::string& strSetting);
  void Enum();
  int OpenDevice(std::vector<std::string>& vecControllers, int nMaxCount, bool bOverlapped);
  void EnumerateHostController(const std::string& strController, int nIndex);
  bool GetPortData(const std::string& strHub, uint32_t ulPortCount, int iHubDepth,
                   const std::string& strHubName);
  int GetHCDDriverKeyName(const std::string& strController, std::string& strKey);
  int GetRootHubName(const std::string& strController, std::string& strHub);
  int GetDriverKeyName(const std::string& strHub, uint32_t ulPort, std::string& strKey);
  int DriverNameToDeviceDesc(const std::string& strKey, std::string& strDesc);
  int DriverNameToHARDWARE(const std::string& strKey, std::string& strHwId);
  uint16_t GetDeviceDescriptor(const std::string& strHub, uint32_t ulPort, const UsbDeviceDescriptor& desc);
  std::string GetStringDescriptor(const std::string& strHub, uint32_t ulPort, uint16_t usLangId,
                                  uint8_t ucIndex);
  // *pnError (when given): the tree's error of the failed request, 0 on success.
  bool bVLNHubGetDeviceDescriptor(const std::string& strHub, uint32_t ulPort, uint16_t& usChipId,
                                  int* pnError = nullptr);
  int GetObjecNameFromDriverName(DriverInfo& entry, bool bHub, bool bRetry);
  // --- target hub identification (VlntUSBDev_Ident.cpp) ---
  void vClearPrivateData();
  void vTestHandleFromDriverInfo(DeviceList* pDevList);
  // --- rescan, hub restart and hub power (DeviceState.cpp) ---
  bool bScanForHardwaeChanges();
  uint8_t ucGet6420HWId(HubPowerRecord& rec, std::vector<std::string>& vecPaths);
  bool bSet6420HubPowerManagementByRegistry(HubPowerRecord& rec, uint8_t ucValue);
  int SetPWManagementEnable();
  // What the walk, the identification and the device state share: the platform they use,
  // the opened flag, the target count, the scan state and the serial cache.
  UsbWalkState m_walk;

 protected:
  // Opens the filter device of record n; null when there is none or it cannot be opened.
  std::unique_ptr<IFilterDeviceHandle> pOpenDevice(int n, std::string* pstrName = nullptr);
  // The same, only when what sits at the record's place now is the hub the record names
  // (before an erase or a download, which would harm any other device).
  std::unique_ptr<IFilterDeviceHandle> pOpenRecordedHub(int n, std::string* pstrName = nullptr);
  // Opens a filter device by name; a refused permission is reported to the operator.
  std::unique_ptr<IFilterDeviceHandle> pOpenFilter(const std::string& strName);
  bool bValidIndex(int n) const { return m_pDevList && n >= 0 && n < MAX_DEV_RECORDS; }
  void vRescan() {
    if (m_fnRescan) m_fnRescan();
  }

  IFilterDevicePlatform& m_platform;
  CVLNTFILTER0& m_filter;
  IClock& m_clock;
  std::string m_strAppPath;
  std::function<void()> m_fnRescan;
  IStorageDriveFinder* m_pStorageDrives = nullptr;
  EOperatorMessages m_eMessages = EOperatorMessages::Box;
  std::mutex m_reportMutex;
  std::set<std::string> m_setPermissionReported;
};
