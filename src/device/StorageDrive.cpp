#include "device/StorageDrive.h"

#include "log/DebugLog.h"

bool bFillStorageDrive(DevRecord& rec, IStorageDriveFinder& finder) {
  const char* L = "StorageDrive::bFillStorageDrive";
  rec.ucIsCDROM = 0;
  rec.ucPhysicalDrive = STORAGE_DRIVE_NONE;
  rec.ucCDROMNumber = STORAGE_DRIVE_NONE;
  try {
    StorageDriveInfo info;
    int nErr = finder.nFindStorageDrive(rec.m_strHubObjectName, info);
    if (nErr != 0) {
      vDEBUG_WRN_printf(L, "Dev[%d] %s: storage drive look-up failed , dwErrorCode %d", rec.ucIndex,
                        rec.m_strHubObjectName.c_str(), nErr);
      return false;
    }
    if (!info.bFound()) return false;
    rec.ucIsCDROM = info.bIsCDROM() ? 1 : 0;
    rec.ucPhysicalDrive = info.ucPhysicalDrive;
    rec.ucCDROMNumber = info.ucCDROMNumber;
    vDEBUG_MSG_printf(L, "Dev[%d] storage drive: CD-ROM flag %d , physical drive %d [%s] , CD-ROM %d [%s]",
                      rec.ucIndex, rec.ucIsCDROM, rec.ucPhysicalDrive, info.strDiskDevice.c_str(),
                      rec.ucCDROMNumber, info.strCDROMDevice.c_str());
    return true;
  } catch (...) {
    rec.ucIsCDROM = 0;
    rec.ucPhysicalDrive = STORAGE_DRIVE_NONE;
    rec.ucCDROMNumber = STORAGE_DRIVE_NONE;
    vDEBUG_ERR_printf(L, "catch(...): Dev[%d]", rec.ucIndex);
    return false;
  }
}

int nFillStorageDrives(DeviceList& list, IStorageDriveFinder& finder) {
  int nFound = 0;
  int nRecords = list.DevNums < 0 ? 0 : (list.DevNums > MAX_DEV_RECORDS ? MAX_DEV_RECORDS : list.DevNums);
  for (int n = 0; n < nRecords; ++n)
    if (list.dev[n].bOccupied() && bFillStorageDrive(list.dev[n], finder)) ++nFound;
  return nFound;
}
