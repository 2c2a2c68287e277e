// The simulated PD controllers behind a bench's storage bridge: what each family keeps in its
// flash, what it refuses (wrong family, wrong fields, wrong order), the MCU's bootloader steps,
// power cycles, and the bench fields that describe them.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/sim/SimBench.h"
#include "platform/sim/SimStorageBridge.h"
#include "support/SimBenchJson.h"
#include "support/TempDir.h"

namespace {

using nlohmann::json;

// One bridge on hubA, physical drive 1, with the storage fields given.
struct PDRig {
  TempDir tmp;
  std::unique_ptr<CSimBench> bench;
  std::unique_ptr<CSimScsiPlatform> scsi;
  std::unique_ptr<IScsiDriveHandle> h;
  std::string strError;

  explicit PDRig(const json& storage) {
    json st = {{"physical_drive", 1}};
    st.update(storage);
    bench = pLoadSimBench(tmp, jsonBridgeBench(st, {{"cdrom", 0}}));
    if (!bench) return;
    scsi = CSimScsiPlatform::pFromBench(*bench, strError);
    if (scsi) reopen();
  }
  void reopen() { h = scsi->pOpen("\\\\.\\PHYSICALDRIVE1"); }
  CSimStorageBridge& a() { return *scsi->pBridge("hubA"); }
  // One 0xEC command: ucDir 'w' a write (data from/with vecData), 'r' a read of n bytes.
  ScsiResult cmd(std::initializer_list<int> cdb, char cDir, std::vector<uint8_t>& vecData) {
    ScsiRequest r;
    size_t i = 0;
    for (int b : cdb) r.ucCdb[i++] = static_cast<uint8_t>(b);
    r.ucCdbLen = static_cast<uint8_t>(cdb.size());
    r.eDir = cDir == 'r' ? EScsiDirection::kIn : EScsiDirection::kOut;
    r.pData = vecData.empty() ? nullptr : vecData.data();
    r.ulDataLen = vecData.size();
    ScsiResult res;
    h->bSend(r, res);
    return res;
  }
  bool ok(std::initializer_list<int> cdb, char cDir = 'w', size_t n = 0) {
    std::vector<uint8_t> v(n, 0xA5);
    return cmd(cdb, cDir, v).bGood();
  }
  // The additional sense code of a refusal (0 when it was carried out).
  int asc(std::initializer_list<int> cdb, char cDir = 'w', size_t n = 0) {
    std::vector<uint8_t> v(n, 0xA5);
    ScsiResult res = cmd(cdb, cDir, v);
    if (res.bGood()) return 0;
    EXPECT_TRUE(res.bRequestOk);
    EXPECT_EQ(res.ucScsiStatus, SCSI_STATUS_CHECK_CONDITION);
    EXPECT_EQ(res.ucSense[2], 0x05);  // ILLEGAL REQUEST
    return res.ucSense[12];
  }
  std::vector<uint8_t> read(std::initializer_list<int> cdb, size_t n) {
    std::vector<uint8_t> v(n, 0);
    EXPECT_TRUE(cmd(cdb, 'r', v).bGood());
    return v;
  }
  bool open() { return ok({0xEC, 0x04, 0, 0, 0, 0, 0, 0}); }
};

}  // namespace

TEST(SimPDController, FlashOfEachFamily) {
  struct Case {
    const char* pszFamily;
    size_t ulSize;
    int nFamilyByte;
  };
  for (const auto& c : std::vector<Case>{
           {"richtek", 16384, 1}, {"ccg2", 32768, 2}, {"ccg3", 131072, 4}, {"ccg4", 131072, 5}}) {
    SCOPED_TRACE(c.pszFamily);
    PDRig r(json{{"pd", c.pszFamily}});
    ASSERT_TRUE(r.h) << r.strError;
    auto st = r.a().stPD();
    EXPECT_TRUE(st.bPresent);
    EXPECT_EQ(st.vecFlash.size(), c.ulSize);
    EXPECT_TRUE(st.vecMcuFlash.empty());
    ASSERT_TRUE(r.open());
    auto ans = r.read({0xEC, 0x07, 0x10, 0x00, 0, 0, 0, 0}, 16);
    EXPECT_EQ(ans[0], 'Z');
    EXPECT_EQ(ans[1], c.nFamilyByte);
    EXPECT_EQ(ans[8], 0);
  }

  // Rows land where their number says: CCG2 in byte 2, CCG3 low byte first, CCG4 256 bytes.
  {
    PDRig r(json{{"pd", "ccg2"}});
    ASSERT_TRUE(r.open());
    ASSERT_TRUE(r.ok({0xEC, 0x22, 0, 0, 0, 0, 0, 0}));
    std::vector<uint8_t> row(128, 0x3C);
    ASSERT_TRUE(r.cmd({0xEC, 0x23, 0xFF, 0x00, 0, 0, 0, 0}, 'w', row).bGood());
    EXPECT_EQ(r.a().stPD().vecFlash[255 * 128UL], 0x3C);
    EXPECT_EQ(r.read({0xEC, 0x24, 0xFF, 0x00, 0, 0, 0, 0}, 128), row);
  }
  {
    PDRig r(json{{"pd", "ccg3"}});
    ASSERT_TRUE(r.open());
    ASSERT_TRUE(r.ok({0xEC, 0x2D, 0, 0, 0, 0, 0, 0}));
    std::vector<uint8_t> row(128, 0x5D);
    ASSERT_TRUE(r.cmd({0xEC, 0x2B, 0x02, 0x01, 0, 0, 0, 0}, 'w', row).bGood());
    EXPECT_EQ(r.a().stPD().vecFlash[0x0102 * 128UL], 0x5D);
    EXPECT_EQ(r.read({0xEC, 0x2A, 0x02, 0x01, 0, 0, 0, 0}, 128), row);
  }
  {
    PDRig r(json{{"pd", "ccg4"}});
    ASSERT_TRUE(r.open());
    ASSERT_TRUE(r.ok({0xEC, 0x2D, 0, 0, 0, 0, 0, 0}));
    std::vector<uint8_t> row(256, 0x6E);
    ASSERT_TRUE(r.cmd({0xEC, 0x2B, 0x02, 0x01, 0x01, 0x00, 0, 0}, 'w', row).bGood());
    auto flash = r.a().stPD().vecFlash;
    EXPECT_EQ(flash[0x0102 * 256UL], 0x6E);
    EXPECT_EQ(flash[0x0102 * 256 + 255], 0x6E);
  }
}

TEST(SimPDController, RefusesWhatTheControllerWouldNot) {
  PDRig r(json{{"pd", "ccg3"}, {"device_mode", 2}});
  ASSERT_TRUE(r.h) << r.strError;
  // Everything but the I2C path waits for it to be open.
  EXPECT_EQ(r.asc({0xEC, 0x07, 0x10, 0x00, 0, 0, 0, 0}, 'r', 16), 0x2C);
  EXPECT_EQ(r.asc({0xEC, 0x04, 0, 0, 0, 1, 0, 0}), 0x24);
  ASSERT_TRUE(r.open());
  // Another family's sub-commands, and the version command of the other device mode.
  EXPECT_EQ(r.asc({0xEC, 0x00, 0, 0, 0x3F, 0xFF, 0, 0}), 0x20);
  EXPECT_EQ(r.asc({0xEC, 0x22, 0, 0, 0, 0, 0, 0}), 0x20);
  EXPECT_EQ(r.asc({0xEC, 0x21, 0x10, 0x00, 0, 0, 0, 0}, 'r', 16), 0x20);
  EXPECT_EQ(r.asc({0xEC, 0x32, 0, 0, 0, 0, 0, 0}), 0x20);  // no MCU on this board
  EXPECT_EQ(r.asc({0xEC, 0x2C, 0x10, 0x00, 0, 0, 0, 0}, 'r', 16), 0);
  // Wrong fields: CDB length, A, length, direction, a row past the flash.
  EXPECT_EQ(r.asc({0xEC, 0x07, 0x10, 0x00, 0, 0}, 'r', 16), 0x24);
  EXPECT_EQ(r.asc({0xEC, 0x07, 0x00, 0x00, 0, 0, 0, 0}, 'r', 16), 0x24);
  EXPECT_EQ(r.asc({0xEC, 0x07, 0x10, 0x00, 0, 0, 0, 0}, 'r', 15), 0x24);
  EXPECT_EQ(r.asc({0xEC, 0x29, 0x01, 0x00, 0, 0, 0, 0}, 'w', 1), 0x24);
  EXPECT_EQ(r.asc({0xEC, 0x2A, 0x00, 0x04, 0, 0, 0, 0}, 'r', 128), 0x24);  // row 1024
  EXPECT_EQ(r.asc({0xEC, 0x2A, 0xFF, 0x03, 0, 0, 0, 0}, 'r', 128), 0);     // row 1023
  // A row write outside flash mode, then with the CCG4's B and length.
  EXPECT_EQ(r.asc({0xEC, 0x2B, 0x01, 0x00, 0, 0, 0, 0}, 'w', 128), 0x2C);
  ASSERT_TRUE(r.ok({0xEC, 0x2D, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(r.asc({0xEC, 0x2B, 0x01, 0x00, 0x01, 0x00, 0, 0}, 'w', 256), 0x24);
  EXPECT_EQ(r.asc({0xEC, 0x2B, 0x01, 0x00, 0, 0, 0, 0}, 'w', 64), 0x24);
  EXPECT_EQ(r.asc({0xEC, 0x2B, 0x01, 0x00, 0, 0, 0, 0}, 'w', 128), 0);
  // Closing the path leaves flash mode.
  ASSERT_TRUE(r.ok({0xEC, 0x05, 0, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(r.open());
  EXPECT_EQ(r.asc({0xEC, 0x2B, 0x01, 0x00, 0, 0, 0, 0}, 'w', 128), 0x2C);

  // Richtek: words only in flash mode, addresses up to 0x0FFF, reads within the 16 KiB.
  PDRig t(json{{"pd", "richtek"}});
  ASSERT_TRUE(t.open());
  EXPECT_EQ(t.asc({0xEC, 0x01, 0x00, 0x10, 1, 2, 3, 4}), 0x2C);
  EXPECT_EQ(t.asc({0xEC, 0x00, 0, 0, 0, 0, 0, 0}), 0x24);  // B must be 0x3FFF
  ASSERT_TRUE(t.ok({0xEC, 0x00, 0, 0, 0x3F, 0xFF, 0, 0}));
  EXPECT_EQ(t.asc({0xEC, 0x01, 0x10, 0x00, 1, 2, 3, 4}), 0x24);
  EXPECT_EQ(t.asc({0xEC, 0x01, 0x00, 0x10, 1, 2, 3, 4}, 'w', 4), 0x24);  // the word is in the CDB
  EXPECT_EQ(t.asc({0xEC, 0x01, 0x0F, 0xFF, 1, 2, 3, 4}), 0);
  EXPECT_EQ(t.asc({0xEC, 0x06, 0x10, 0x00, 0x3F, 0xE0, 0, 0x20}, 'r', 32), 0);
  EXPECT_EQ(t.asc({0xEC, 0x06, 0x10, 0x00, 0x3F, 0xF0, 0, 0x20}, 'r', 32), 0x24);
  EXPECT_EQ(t.asc({0xEC, 0x06, 0x10, 0x00, 0x00, 0x00, 0, 0x10}, 'r', 32), 0x24);
  EXPECT_EQ(t.read({0xEC, 0x06, 0x10, 0x00, 0x3F, 0xE0, 0, 0x20}, 32)[31], 4);
}

TEST(SimPDController, McuBootloaderSteps) {
  PDRig r(json{{"pd", "ccg2"}, {"mcu", true}});
  ASSERT_TRUE(r.h) << r.strError;
  ASSERT_TRUE(r.open());
  EXPECT_EQ(r.read({0xEC, 0x07, 0x10, 0x00, 0, 0, 0, 0}, 16)[8], 1);
  EXPECT_EQ(r.a().stPD().vecMcuFlash.size(), 0xC000u);
  std::vector<uint8_t> d(12, 0x42);
  // Data before the bootloader, the second step without the first, and too soon after it.
  EXPECT_EQ(r.asc({0xEC, 0x34, 0x08, 0x00, 0x00, 0x18, 12, 0}, 'w', 12), 0x2C);
  EXPECT_EQ(r.asc({0xEC, 0x33, 0, 0, 0, 0, 0, 0}), 0x2C);
  ASSERT_TRUE(r.ok({0xEC, 0x32, 0, 0, 0, 0, 0, 0}));
  r.bench->clock().bSleepMs(999);
  EXPECT_EQ(r.asc({0xEC, 0x33, 0, 0, 0, 0, 0, 0}), 0x2C);
  r.bench->clock().bSleepMs(1);
  ASSERT_TRUE(r.ok({0xEC, 0x33, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(r.a().stPD().eMcu, ESimMcuState::kBootloader);
  // Pieces of 1 to 12 bytes with their length in byte 6, under upper address 0x0800 only.
  ASSERT_TRUE(r.cmd({0xEC, 0x34, 0x08, 0x00, 0x00, 0x18, 12, 0}, 'w', d).bGood());
  EXPECT_EQ(r.asc({0xEC, 0x34, 0x08, 0x00, 0x00, 0x18, 11, 0}, 'w', 12), 0x24);
  EXPECT_EQ(r.asc({0xEC, 0x34, 0x08, 0x01, 0x00, 0x18, 12, 0}, 'w', 12), 0x24);
  EXPECT_EQ(r.asc({0xEC, 0x34, 0x08, 0x00, 0xBF, 0xF8, 12, 0}, 'w', 12), 0x24);  // past 48 KiB
  EXPECT_EQ(r.asc({0xEC, 0x35, 0x08, 0x00, 0x00, 0x18, 13, 0}, 'r', 13), 0x24);
  auto back = r.read({0xEC, 0x35, 0x08, 0x00, 0x00, 0x14, 8, 0}, 8);
  EXPECT_EQ(back, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0x42, 0x42, 0x42, 0x42}));
  // A power cycle ends the bootloader: the MCU runs its application again.
  ASSERT_TRUE(r.scsi->bPowerCycle("\\\\.\\PHYSICALDRIVE1"));
  EXPECT_EQ(r.a().stPD().eMcu, ESimMcuState::kApplication);
  EXPECT_EQ(r.a().stPD().vecMcuFlash[0x18], 0x42);  // what was written stays
}

TEST(SimPDController, VersionsAndPowerCycles) {
  {
    // Richtek: the version comes from the running image, so a written version shows only
    // after the power cycle.
    PDRig r(json{{"pd", "richtek"}, {"relink_ms", 2000}});
    ASSERT_TRUE(r.open());
    EXPECT_EQ(r.read({0xEC, 0x03, 0, 0, 0, 0, 0, 0}, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    ASSERT_TRUE(r.ok({0xEC, 0x00, 0, 0, 0x3F, 0xFF, 0, 0}));
    ASSERT_TRUE(r.ok({0xEC, 0x01, 0x04, 0x00, 0x34, 0x12, 0, 0}));  // word 0x400 = byte 4096
    EXPECT_EQ(r.read({0xEC, 0x03, 0, 0, 0, 0, 0, 0}, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    ASSERT_TRUE(r.scsi->bPowerCycle("\\\\.\\PHYSICALDRIVE1"));
    EXPECT_EQ(r.a().uPowerCycles(), 1u);
    // The old handle is dead and the drive stays away for its relink time.
    EXPECT_FALSE(r.ok({0xEC, 0x04, 0, 0, 0, 0, 0, 0}));
    int nErr = 0;
    EXPECT_EQ(r.scsi->pOpen("\\\\.\\PHYSICALDRIVE1", &nErr), nullptr);
    EXPECT_EQ(nErr, ENODEV);
    r.bench->clock().bSleepMs(2000);
    r.reopen();
    ASSERT_TRUE(r.h);
    EXPECT_FALSE(r.a().stPD().bI2COpen);
    EXPECT_FALSE(r.a().stPD().bFlashMode);
    ASSERT_TRUE(r.open());
    EXPECT_EQ(r.read({0xEC, 0x03, 0, 0, 0, 0, 0, 0}, 2), (std::vector<uint8_t>{0x34, 0x12}));
  }
  {
    PDRig r(json{{"pd", "ccg4"}, {"device_mode", 1}, {"pd_version", "0102030405060708"}});
    ASSERT_TRUE(r.open());
    EXPECT_EQ(r.read({0xEC, 0x29, 0x01, 0x00, 0, 0, 0, 0}, 1)[0], 1);
    auto v = r.read({0xEC, 0x21, 0x10, 0x00, 0, 0, 0, 0}, 16);
    EXPECT_EQ(std::vector<uint8_t>(v.begin() + 8, v.end()), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(r.asc({0xEC, 0x2A, 0x00, 0x00, 0, 0, 0, 0}, 'r', 128), 0x20);  // no row read on a CCG4
  }
  {
    // no_relink strikes at the power cycle it names.
    PDRig r(json{{"pd", "ccg2"},
                 {"relink_ms", 100},
                 {"faults", json::array({{{"kind", "no_relink"}, {"occurrence", 2}}})}});
    ASSERT_TRUE(r.scsi->bPowerCycle("\\\\.\\PHYSICALDRIVE1"));
    r.bench->clock().bSleepMs(100);
    EXPECT_TRUE(r.a().bPresent());
    ASSERT_TRUE(r.scsi->bPowerCycle("\\\\.\\PHYSICALDRIVE1"));
    r.bench->clock().bSleepMs(3600000);
    EXPECT_FALSE(r.a().bPresent());
  }
  {
    // A bridge without a controller still refuses the opcode.
    PDRig r(json::object());
    ASSERT_TRUE(r.h);
    EXPECT_FALSE(r.a().stPD().bPresent);
    EXPECT_EQ(r.asc({0xEC, 0x04, 0, 0, 0, 0, 0, 0}), 0x20);
  }
}

TEST(SimPDController, BenchFieldsAreChecked) {
  struct Case {
    json storage;
    const char* pszError;
  };
  const std::vector<Case> cases = {
      {{{"pd", "ccg5"}}, ".pd must be"},
      {{{"pd", 4}}, ".pd must be"},
      {{{"pd", "richtek"}, {"device_mode", 1}}, ".device_mode is only for"},
      {{{"pd", "ccg3"}, {"device_mode", 3}}, ".device_mode"},
      {{{"mcu", true}}, ".mcu needs \"pd\""},
      {{{"pd", "ccg2"}, {"mcu", 1}}, ".mcu must be true or false"},
      {{{"pd", "ccg2"}, {"pd_version", "0102"}}, ".pd_version must be 16 hexadecimal digits"},
      {{{"pd", "ccg2"}, {"pd_version", "01020304050607xx"}}, ".pd_version must be"},
      {{{"pd", "ccg2"}, {"faults", json::array({{{"kind", "no_relink"}, {"opcode", "0xEC"}}})}},
       "strikes at a power cycle"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.storage.dump());
    PDRig r(c.storage);
    EXPECT_EQ(r.scsi, nullptr);
    EXPECT_NE(r.strError.find(c.pszError), std::string::npos) << r.strError;
  }
}
