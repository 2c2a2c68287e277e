// Finding the drive behind a hub in a sysfs tree, and the record's storage-drive fields.
#include <gtest/gtest.h>

#include <cerrno>

#include "device/StorageDrive.h"
#include "platform/linux/ScsiSgIoDrives.h"
#include "support/LogCapture.h"

namespace {
const std::string kSys = std::string(MPTOOL_TEST_DATA) + "/scsi/sys1";

StorageDriveInfo stFind(const std::string& strHub, int nExpectErr = 0) {
  CSysfsStorageDriveFinder f(kSys);
  StorageDriveInfo i;
  EXPECT_EQ(f.nFindStorageDrive(strHub, i), nExpectErr) << strHub;
  return i;
}
}  // namespace

TEST(SysfsStorageDrive, LowestDiskAndCdromOfTheBridgeNotTheNestedHubs) {
  // Bridge 2-1.4 shows sdf, sdc and sr1; hub 2-1.2 below has its own bridge with sdb.
  StorageDriveInfo i = stFind("usb:2-1");
  EXPECT_TRUE(i.bHasDisk);
  EXPECT_EQ(i.ucPhysicalDrive, 2);  // sdc: not sdf (5), and sdb (1) is the nearer hub's
  EXPECT_EQ(i.strDiskDevice, "sdc");
  EXPECT_TRUE(i.bHasCDROM);
  EXPECT_EQ(i.ucCDROMNumber, 1);
  EXPECT_FALSE(i.bIsCDROM());  // a disk is there: commands go to it

  StorageDriveInfo e = stFind("usb:2-1.2");
  EXPECT_EQ(e.ucPhysicalDrive, 1);
  EXPECT_EQ(e.strDiskDevice, "sdb");
  EXPECT_FALSE(e.bHasCDROM);
  EXPECT_EQ(e.ucCDROMNumber, STORAGE_DRIVE_NONE);
}

TEST(SysfsStorageDrive, EitherHalfOfAUsb3HubFindsTheBridgeOfTheOther) {
  // Hub B's bridge is a USB 2 device below the USB 2 half; identification keeps the
  // SuperSpeed half's name.
  StorageDriveInfo b = stFind("usb:2-2");
  EXPECT_EQ(b.ucPhysicalDrive, 26);  // sdaa; its partition sdaa1 is no drive
  EXPECT_EQ(b.strDiskDevice, "sdaa");
  StorageDriveInfo a = stFind("usb:1-1");
  EXPECT_EQ(a.ucPhysicalDrive, 2);
  EXPECT_EQ(a.ucCDROMNumber, 1);
  StorageDriveInfo e = stFind("usb:1-1.2");  // a nested hub's peer, found through its port
  EXPECT_EQ(e.ucPhysicalDrive, 1);

  CSysfsStorageDriveFinder f(kSys);
  std::vector<std::string> v;
  ASSERT_EQ(f.nHubDeviceFolders("2-1.2", v), 0);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_NE(v[1].find("/usb1/1-1/1-1.2"), std::string::npos);

  // the walker's trees carry the same port and peer links: both halves from either one
  CSysfsStorageDriveFinder t(std::string(MPTOOL_TEST_DATA) + "/topology/usb3_halves");
  ASSERT_EQ(t.nHubDeviceFolders("2-2", v), 0);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_NE(v[0].find("/usb2/2-2"), std::string::npos);
  EXPECT_NE(v[1].find("/usb1/1-2"), std::string::npos);
  ASSERT_EQ(t.nHubDeviceFolders("1-2", v), 0);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_NE(v[1].find("/usb2/2-2"), std::string::npos);
}

TEST(SysfsStorageDrive, CdromOnlyNothingMissingAndMalformed) {
  StorageDriveInfo d = stFind("usb:2-4");
  EXPECT_FALSE(d.bHasDisk);
  EXPECT_TRUE(d.bIsCDROM());
  EXPECT_EQ(d.ucCDROMNumber, 0);
  EXPECT_EQ(d.ucPhysicalDrive, STORAGE_DRIVE_NONE);

  StorageDriveInfo c = stFind("usb:2-3");
  EXPECT_FALSE(c.bFound());
  EXPECT_EQ(c.ucPhysicalDrive, STORAGE_DRIVE_NONE);

  stFind("usb:2-9", ENOENT);
  stFind("2-1", EINVAL);
  stFind("usb:", EINVAL);
  CSysfsStorageDriveFinder none("/nonexistent-sysfs-root");
  StorageDriveInfo i;
  EXPECT_EQ(none.nFindStorageDrive("usb:2-1", i), ENOENT);
}

namespace {
class CFixedFinder : public IStorageDriveFinder {
 public:
  int nErr = 0;
  StorageDriveInfo info;
  std::vector<std::string> vecAsked;
  int nFindStorageDrive(const std::string& strHub, StorageDriveInfo& i) override {
    vecAsked.push_back(strHub);
    i = info;
    return nErr;
  }
};
}  // namespace

TEST(StorageDriveFields, FilledFromTheFinderOrBackToFreeValues) {
  LogCapture log;
  DeviceList list;
  list.DevNums = 2;
  for (int n = 0; n < 2; ++n) {
    list.dev[n].ucIndex = static_cast<uint8_t>(n);
    list.dev[n].m_strHubObjectName = "usb:2-" + std::to_string(n + 1);
  }
  list.dev[5].m_strHubObjectName = "usb:2-6";  // beyond DevNums: not asked
  CSysfsStorageDriveFinder sys(kSys);
  EXPECT_EQ(nFillStorageDrives(list, sys), 2);
  EXPECT_EQ(list.dev[0].ucIsCDROM, 0);
  EXPECT_EQ(list.dev[0].ucPhysicalDrive, 2);
  EXPECT_EQ(list.dev[0].ucCDROMNumber, 1);
  EXPECT_EQ(list.dev[1].ucPhysicalDrive, 26);
  EXPECT_EQ(list.dev[1].ucCDROMNumber, STORAGE_DRIVE_NONE);
  EXPECT_TRUE(log.contains("Dev[0] storage drive: CD-ROM flag 0 , physical drive 2 [sdc] , CD-ROM 1 [sr1]"));

  // A look-up that fails, or finds nothing, leaves the free values, whatever was there before.
  CFixedFinder f;
  f.nErr = EIO;
  list.dev[0].ucIsCDROM = 1;
  EXPECT_FALSE(bFillStorageDrive(list.dev[0], f));
  EXPECT_EQ(list.dev[0].ucIsCDROM, 0);
  EXPECT_EQ(list.dev[0].ucPhysicalDrive, STORAGE_DRIVE_NONE);
  EXPECT_EQ(list.dev[0].ucCDROMNumber, STORAGE_DRIVE_NONE);
  EXPECT_TRUE(log.contains("storage drive look-up failed , dwErrorCode 5"));
  f.nErr = 0;
  EXPECT_FALSE(bFillStorageDrive(list.dev[1], f));
  EXPECT_EQ(list.dev[1].ucPhysicalDrive, STORAGE_DRIVE_NONE);

  f.info.bHasCDROM = true;
  f.info.ucCDROMNumber = 3;
  EXPECT_TRUE(bFillStorageDrive(list.dev[1], f));
  EXPECT_EQ(list.dev[1].ucIsCDROM, 1);
  EXPECT_EQ(list.dev[1].ucCDROMNumber, 3);
  EXPECT_EQ(list.dev[1].ucPhysicalDrive, STORAGE_DRIVE_NONE);

  list.DevNums = 99;  // never reads past the records
  f.vecAsked.clear();
  nFillStorageDrives(list, f);
  EXPECT_EQ(f.vecAsked.size(), 2u);  // only the occupied slots
}
