// SG_IO: drive names and numbers, request headers, outcome mapping, opening device nodes.
#include <gtest/gtest.h>

#include <cerrno>

#include "device/ScsiBridge.h"
#include "platform/linux/ScsiSgIo.h"
#include "support/TempDir.h"

TEST(ScsiDriveName, ParsesBothFormsIgnoringCaseAndRefusesOddSpellings) {
  bool bCd = true;
  int n = -1;
  ASSERT_TRUE(bParseScsiDriveName("\\\\.\\PHYSICALDRIVE3", bCd, n));
  EXPECT_FALSE(bCd);
  EXPECT_EQ(n, 3);
  ASSERT_TRUE(bParseScsiDriveName("\\\\.\\PhysicalDrive127", bCd, n));
  EXPECT_EQ(n, 127);
  ASSERT_TRUE(bParseScsiDriveName("\\\\.\\CDROM0", bCd, n));
  EXPECT_TRUE(bCd);
  EXPECT_EQ(n, 0);
  for (const char* bad : {"\\\\.\\PHYSICALDRIVE", "\\\\.\\PHYSICALDRIVE-1", "\\\\.\\PHYSICALDRIVE01",
                          "\\\\.\\CDROM1x", "\\\\.\\PHYSICALDRIVE1000", "PHYSICALDRIVE1", "/dev/sdb", ""})
    EXPECT_FALSE(bParseScsiDriveName(bad, bCd, n)) << bad;
  EXPECT_EQ(strMakeScsiDriveName(false, 5), "\\\\.\\PHYSICALDRIVE5");
  EXPECT_EQ(strMakeScsiDriveName(true, 2), "\\\\.\\CDROM2");
}

TEST(ScsiDriveName, KernelNamesAndNumbersMapBothWays) {
  EXPECT_EQ(nDiskNumberFromName("sda"), 0);
  EXPECT_EQ(nDiskNumberFromName("sdz"), 25);
  EXPECT_EQ(nDiskNumberFromName("sdaa"), 26);
  EXPECT_EQ(nDiskNumberFromName("sdba"), 52);
  EXPECT_EQ(nDiskNumberFromName("sddw"), 126);
  EXPECT_EQ(nDiskNumberFromName("sddx"), -1);  // 127 is the "no drive" value
  EXPECT_EQ(nDiskNumberFromName("sdzzzzzz"), -1);
  for (const char* notDisk : {"sdb1", "sd", "sdB", "sr0", "nvme0n1", "loop0", "mmcblk0"})
    EXPECT_EQ(nDiskNumberFromName(notDisk), -1) << notDisk;
  for (int i = 0; i <= 126; ++i) ASSERT_EQ(nDiskNumberFromName(strDiskNameFromNumber(i)), i) << i;
  EXPECT_EQ(strDiskNameFromNumber(127), "");
  EXPECT_EQ(strDiskNameFromNumber(-1), "");
  EXPECT_EQ(nCDROMNumberFromName("sr0"), 0);
  EXPECT_EQ(nCDROMNumberFromName("sr126"), 126);
  EXPECT_EQ(nCDROMNumberFromName("sr127"), -1);
  EXPECT_EQ(nCDROMNumberFromName("sr01"), -1);
  EXPECT_EQ(nCDROMNumberFromName("sr"), -1);
  EXPECT_EQ(strSgIoDevicePath("\\\\.\\PHYSICALDRIVE2"), "/dev/sdc");
  EXPECT_EQ(strSgIoDevicePath("\\\\.\\CDROM1", "/tmp/x"), "/tmp/x/sr1");
  EXPECT_EQ(strSgIoDevicePath("\\\\.\\PHYSICALDRIVE127"), "");  // the free value names no node
}

TEST(SgIoHeader, DirectionsLengthsAndTimeOuts) {
  uint8_t ucData[4] = {};
  uint8_t ucSense[SCSI_SENSE_SIZE];
  sg_io_hdr_t h;

  ScsiRequest rd = stBridgeRegisterRead(0xCA30, ucData, 1);
  ASSERT_EQ(nBuildSgIoHeader(rd, h, ucSense), 0);
  EXPECT_EQ(h.interface_id, 'S');
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(h.dxfer_len, 1u);
  EXPECT_EQ(h.dxferp, ucData);
  EXPECT_EQ(h.cmd_len, 6);
  EXPECT_EQ(h.cmdp[0], 0xE4);
  EXPECT_EQ(h.mx_sb_len, SCSI_SENSE_SIZE);
  EXPECT_EQ(h.sbp, ucSense);
  EXPECT_EQ(h.timeout, 3000u);

  // A write carries its value in the CDB: no data phase although it is an "out" command.
  ASSERT_EQ(nBuildSgIoHeader(stBridgeRegisterWrite(0x1234, 0x41), h, ucSense), 0);
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(h.dxfer_len, 0u);
  EXPECT_EQ(h.timeout, 60000u);

  ASSERT_EQ(nBuildSgIoHeader(stBridgeFlushCache(), h, ucSense), 0);
  EXPECT_EQ(h.cmd_len, 12);
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(h.timeout, 65535000u);

  ScsiRequest out = rd;
  out.eDir = EScsiDirection::kOut;
  ASSERT_EQ(nBuildSgIoHeader(out, h, ucSense), 0);
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_TO_DEV);

  ScsiRequest bad = rd;
  bad.ucCdbLen = 5;
  EXPECT_EQ(nBuildSgIoHeader(bad, h, ucSense), EINVAL);
  bad = rd;
  bad.ucCdbLen = 17;
  EXPECT_EQ(nBuildSgIoHeader(bad, h, ucSense), EINVAL);
  bad = rd;
  bad.pData = nullptr;
  EXPECT_EQ(nBuildSgIoHeader(bad, h, ucSense), EINVAL);
  bad = rd;
  bad.eDir = EScsiDirection::kNone;
  EXPECT_EQ(nBuildSgIoHeader(bad, h, ucSense), EINVAL);
  bad = rd;
  bad.ulDataLen = SCSI_MAX_DATA + 1;
  EXPECT_EQ(nBuildSgIoHeader(bad, h, ucSense), EINVAL);
}

TEST(SgIoOutcome, CallFailuresHostAndDriverStatusesAndSense) {
  sg_io_hdr_t h{};
  ScsiResult r;
  vMapSgIoOutcome(-1, EPERM, h, nullptr, r);
  EXPECT_FALSE(r.bRequestOk);
  EXPECT_EQ(r.nError, EPERM);
  EXPECT_FALSE(r.bGood());

  h.host_status = SGIO_DID_TIME_OUT;
  vMapSgIoOutcome(0, 0, h, nullptr, r);
  EXPECT_FALSE(r.bRequestOk);
  EXPECT_EQ(r.nError, ETIMEDOUT);
  h.host_status = SGIO_DID_OK;
  h.driver_status = SGIO_DRIVER_TIMEOUT;
  vMapSgIoOutcome(0, 0, h, nullptr, r);
  EXPECT_EQ(r.nError, ETIMEDOUT);
  h.driver_status = 0;
  h.host_status = SGIO_DID_NO_CONNECT;
  vMapSgIoOutcome(0, 0, h, nullptr, r);
  EXPECT_EQ(r.nError, ENODEV);
  h.host_status = 0x07;  // DID_ERROR
  vMapSgIoOutcome(0, 0, h, nullptr, r);
  EXPECT_FALSE(r.bRequestOk);
  EXPECT_EQ(r.nError, EIO);

  // CHECK CONDITION: the request went through, the status is the drive's, sense kept.
  uint8_t ucSense[SCSI_SENSE_SIZE] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20};
  h = sg_io_hdr_t{};
  h.status = SCSI_STATUS_CHECK_CONDITION;
  h.driver_status = SGIO_DRIVER_SENSE;
  h.sb_len_wr = 18;
  vMapSgIoOutcome(0, 0, h, ucSense, r);
  EXPECT_TRUE(r.bRequestOk);
  EXPECT_EQ(r.ucScsiStatus, 2);
  EXPECT_FALSE(r.bGood());
  EXPECT_EQ(r.ucSenseLen, 18);
  EXPECT_EQ(r.ucSense[2], 0x05);
  EXPECT_EQ(r.ucSense[12], 0x20);

  h = sg_io_hdr_t{};
  h.dxfer_len = 256;
  h.resid = 56;
  vMapSgIoOutcome(0, 0, h, ucSense, r);
  EXPECT_TRUE(r.bGood());
  EXPECT_EQ(r.ulTransferred, 200u);
  EXPECT_EQ(r.ucSenseLen, 0);
  h.resid = 999;  // a resid above the length must not wrap
  vMapSgIoOutcome(0, 0, h, ucSense, r);
  EXPECT_EQ(r.ulTransferred, 0u);
}

TEST(SgIoErrors, TextsNameTheRemedy) {
  EXPECT_NE(strScsiErrorText(EPERM).find("CAP_SYS_RAWIO"), std::string::npos);
  EXPECT_NE(strScsiErrorText(EACCES).find("udev"), std::string::npos);
  EXPECT_NE(strScsiErrorText(ENODEV).find("no longer"), std::string::npos);
  EXPECT_NE(strScsiErrorText(ETIMEDOUT).find("in time"), std::string::npos);
  EXPECT_NE(strScsiErrorText(EROFS).find(std::to_string(EROFS)), std::string::npos);
}

TEST(SgIoOpen, MissingNodesNonBlockDevicesAndBadNames) {
  TempDir t;
  t.write("sdb", "not a disk");
  CSgIoScsiPlatform p(t.str());
  int nErr = 0;
  std::string strWhy;
  EXPECT_EQ(p.pOpen("\\\\.\\PHYSICALDRIVE2", &nErr, &strWhy), nullptr);  // sdc: no such node
  EXPECT_EQ(nErr, ENOENT);
  EXPECT_NE(strWhy.find(t.str() + "/sdc"), std::string::npos);
  EXPECT_EQ(p.pOpen("\\\\.\\PHYSICALDRIVE1", &nErr, &strWhy), nullptr);  // sdb: a plain file
  EXPECT_EQ(nErr, ENOTBLK);
  EXPECT_EQ(p.pOpen("\\\\.\\PHYSICALDRIVE127", &nErr), nullptr);
  EXPECT_EQ(nErr, EINVAL);
  EXPECT_EQ(p.pOpen("sdb", &nErr), nullptr);
  EXPECT_EQ(nErr, EINVAL);
}
