#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Clock.h"
#include "platform/sim/SimHubChip.h"
#include "platform/sim/SimHubGadget.h"

namespace {
// One chip on a clock whose waits pass at once, and its gadget side, attached.
struct GadgetRig {
  std::filesystem::path flash;
  CScaledClock clock{0.0};
  SimHubSpec hubDef;
  std::unique_ptr<CSimHubChip> chip;
  std::unique_ptr<CSimHubGadget> gadget;

  explicit GadgetRig(int nPorts = 4, bool bSuperSpeed = false) {
    flash = std::filesystem::path(testing::TempDir()) / "gadget_hub.flash";
    std::filesystem::remove(flash);
    hubDef.strName = "hub1";
    hubDef.bUsb3 = bSuperSpeed;
    hubDef.nPorts = nPorts;
    hubDef.usPIDU2 = 0x55AB;
    hubDef.strManufacturer = "Velnor";
    hubDef.strFlash = flash.string();
    hubDef.uResetMs = 500;
    chip = std::make_unique<CSimHubChip>(hubDef, clock);
    std::string err;
    EXPECT_TRUE(chip->bOpenFlash(err)) << err;
    gadget = std::make_unique<CSimHubGadget>(*chip, bSuperSpeed);
    gadget->vAttach();
  }
  ~GadgetRig() {
    gadget.reset();
    chip.reset();
    std::filesystem::remove(flash);
  }
  SimGadgetReply stIn(uint8_t type, uint8_t req, uint16_t value, uint16_t index, uint16_t len) {
    UsbControlSetup s;
    s.bmRequestType = type;
    s.bRequest = req;
    s.wValue = value;
    s.wIndex = index;
    s.wLength = len;
    s.bIn = true;
    return gadget->stSetup(s);
  }
  SimGadgetReply stOut(uint8_t type, uint8_t req, uint16_t value, uint16_t index,
                       const std::vector<uint8_t>& data = {}) {
    UsbControlSetup s;
    s.bmRequestType = type;
    s.bRequest = req;
    s.wValue = value;
    s.wIndex = index;
    s.wLength = static_cast<uint16_t>(data.size());
    s.pData = data.data();
    return gadget->stSetup(s);
  }
};
using K = SimGadgetReply::EKind;
}  // namespace

// What the host's hub driver asks before it binds: the hub descriptor, hub and port status,
// port power. Only the power bit of a port follows the host; requests outside the ports stall.
TEST(SimHubGadget, AnswersTheHubDriversRequests) {
  GadgetRig rig(3);
  SimGadgetReply r = rig.stIn(0xA0, 6, 0x2900, 0, 15);
  ASSERT_EQ(r.eKind, K::kData);
  ASSERT_EQ(r.vecData.size(), 9u);
  EXPECT_EQ(r.vecData[1], 0x29);
  EXPECT_EQ(r.vecData[2], 3);  // ports
  EXPECT_EQ(rig.stIn(0xA0, 0, 0, 0, 4).vecData, std::vector<uint8_t>(4, 0));
  EXPECT_EQ(rig.stIn(0xA3, 0, 0, 2, 4).vecData, std::vector<uint8_t>({0, 0, 0, 0}));
  EXPECT_EQ(rig.stOut(0x23, 3, 8, 2).eKind, K::kAck);  // SET_FEATURE PORT_POWER
  EXPECT_EQ(rig.stIn(0xA3, 0, 0, 2, 4).vecData, std::vector<uint8_t>({0, 1, 0, 0}));
  EXPECT_EQ(rig.stIn(0xA3, 0, 0, 1, 4).vecData, std::vector<uint8_t>({0, 0, 0, 0}));
  EXPECT_EQ(rig.stOut(0x23, 1, 8, 2).eKind, K::kAck);  // CLEAR_FEATURE PORT_POWER
  EXPECT_EQ(rig.stIn(0xA3, 0, 0, 2, 4).vecData, std::vector<uint8_t>({0, 0, 0, 0}));
  EXPECT_EQ(rig.stOut(0x23, 3, 4, 2).eKind, K::kAck);  // a port reset: taken, nothing there
  EXPECT_EQ(rig.stIn(0xA3, 0, 0, 4, 4).eKind, K::kStall);
  EXPECT_EQ(rig.stIn(0xA3, 0, 0, 0, 4).eKind, K::kStall);
  // a short read gets the start of the answer
  EXPECT_EQ(rig.stIn(0xA0, 6, 0x2900, 0, 2).vecData.size(), 2u);
  // the standard requests the kernel leaves to the gadget
  EXPECT_EQ(rig.stIn(0x80, 0, 0, 0, 2).vecData, std::vector<uint8_t>({1, 0}));  // self-powered
  EXPECT_EQ(rig.stOut(0x01, 11, 0, 0).eKind, K::kAck);                          // SET_INTERFACE 0
  EXPECT_EQ(rig.stOut(0x01, 11, 1, 0).eKind, K::kStall);                        // no alternate setting
}

// The descriptors the transport hands to the kernel: the chip's device descriptor; one
// configuration whose length is right, without remote wake-up (GadgetFS refuses it), with
// a status endpoint wide enough for the port bits.
TEST(SimHubGadget, DescriptorsComeFromTheChip) {
  GadgetRig rig(7);
  SimGadgetReply r;
  std::vector<uint8_t> d = rig.gadget->vecDeviceDescriptor();
  ASSERT_EQ(d.size(), 18u);
  EXPECT_EQ(d[4], 0x09);                    // hub class
  EXPECT_EQ(d[8] | (d[9] << 8), 0x2F7B);    // the boot identity of a blank chip
  EXPECT_EQ(d[10] | (d[11] << 8), 0x55AB);  // its USB 2.0 product id
  EXPECT_EQ(d[14], 1);                      // a manufacturer string
  for (bool bHigh : {false, true}) {
    std::vector<uint8_t> c = rig.gadget->vecConfigDescriptor(bHigh);
    ASSERT_EQ(c.size(), 25u);
    EXPECT_EQ(c[2] | (c[3] << 8), 25);
    EXPECT_EQ(c[7] & 0x20, 0);  // no remote wake-up
    EXPECT_EQ(c[14], 9);        // hub interface
    EXPECT_EQ(c[20], 0x81);     // interrupt IN 1
    EXPECT_EQ(c[22], 1);        // 8 bits: the hub and 7 ports
    EXPECT_EQ(c[24], bHigh ? 12 : 255);
  }
  EXPECT_EQ(GadgetRig(8).gadget->vecConfigDescriptor(true)[22], 1);  // clamped to 7 ports

  // The same through endpoint 0, for a transport that leaves every request to the gadget.
  EXPECT_EQ(rig.stIn(0x80, 6, 0x0100, 0, 64).vecData, d);
  EXPECT_EQ(rig.stIn(0x80, 6, 0x0100, 0, 8).vecData, std::vector<uint8_t>(d.begin(), d.begin() + 8));
  EXPECT_EQ(rig.stIn(0x80, 6, 0x0200, 0, 255).vecData, rig.gadget->vecConfigDescriptor(true));
  EXPECT_EQ(rig.stIn(0x80, 6, 0x0200, 0, 9).vecData.size(), 9u);
  EXPECT_EQ(rig.stIn(0x80, 6, 0x0201, 0, 255).eKind, K::kStall);  // one configuration only
  r = rig.stIn(0x80, 6, 0x0F00, 0, 255);                          // USB 2.1: a BOS
  ASSERT_EQ(r.eKind, K::kData);
  EXPECT_EQ(r.vecData.size(), static_cast<size_t>(r.vecData[2] | (r.vecData[3] << 8)));
  EXPECT_EQ(rig.stIn(0x80, 8, 0, 0, 1).vecData, std::vector<uint8_t>({0}));
  EXPECT_EQ(rig.stOut(0x00, 9, 1, 0).eKind, K::kAck);
  EXPECT_EQ(rig.gadget->ucConfiguration(), 1);
  EXPECT_EQ(rig.stIn(0x80, 8, 0, 0, 1).vecData, std::vector<uint8_t>({1}));
  EXPECT_EQ(rig.stOut(0x00, 9, 2, 0).eKind, K::kStall);
  rig.gadget->vAttach();  // a new attach starts unconfigured
  EXPECT_EQ(rig.gadget->ucConfiguration(), 0);
}

// A USB 3 hub's SuperSpeed half: the chip's SuperSpeed device descriptor, the SuperSpeed hub
// descriptor and hub depth, ports whose status carries the SuperSpeed power bit and link
// state, a configuration with the endpoint's companion, a BOS with the SuperSpeed capability;
// when the chip leaves the bus through the other half, this half's session is over.
TEST(SimHubGadget, SuperSpeedHalf) {
  GadgetRig rig(4, true);
  SimGadgetReply r = rig.stIn(0x80, 6, 0x0100, 0, 18);
  ASSERT_EQ(r.vecData.size(), 18u);
  EXPECT_EQ(r.vecData[2] | (r.vecData[3] << 8), 0x0320);
  EXPECT_EQ(r.vecData[7], 9);  // 512-byte endpoint 0
  EXPECT_EQ(rig.stIn(0xA0, 6, 0x2900, 0, 15).eKind, K::kStall);
  r = rig.stIn(0xA0, 6, 0x2A00, 0, 12);
  ASSERT_EQ(r.vecData.size(), 12u);
  EXPECT_EQ(r.vecData[1], 0x2A);
  EXPECT_EQ(r.vecData[2], 4);
  EXPECT_EQ(rig.stOut(0x20, 12, 1, 0).eKind, K::kAck);                                   // SET_HUB_DEPTH
  EXPECT_EQ(rig.stIn(0xA3, 0, 0, 1, 4).vecData, std::vector<uint8_t>({0x80, 0, 0, 0}));  // SS.Disabled
  EXPECT_EQ(rig.stOut(0x23, 3, 8, 1).eKind, K::kAck);
  EXPECT_EQ(rig.stIn(0xA3, 0, 0, 1, 4).vecData,
            std::vector<uint8_t>({0xA0, 0x02, 0, 0}));  // powered, Rx.Detect
  std::vector<uint8_t> c = rig.stIn(0x80, 6, 0x0200, 0, 255).vecData;
  ASSERT_EQ(c.size(), 31u);
  EXPECT_EQ(c[2], 31);
  EXPECT_EQ(c[26], 0x30);  // the companion follows the endpoint
  r = rig.stIn(0x80, 6, 0x0F00, 0, 255);
  ASSERT_EQ(r.vecData.size(), 22u);
  EXPECT_EQ(r.vecData[4], 2);                            // two capabilities
  EXPECT_EQ(r.vecData[14], 3);                           // SuperSpeed USB
  EXPECT_EQ(rig.stOut(0x00, 49, 40, 0).eKind, K::kAck);  // SET_ISOCH_DELAY
  EXPECT_FALSE(rig.gadget->bSessionOver());
  CSimHubGadget usb2(*rig.chip);
  usb2.vAttach();
  UsbControlSetup reset;
  reset.bmRequestType = 0x40;
  reset.bRequest = 0x54;
  EXPECT_TRUE(usb2.stSetup(reset).bLeftBus);
  EXPECT_TRUE(rig.gadget->bSessionOver());
}

// Strings and vendor requests are the chip's: its identification string, its registers,
// its refusals; its CPU reset takes it off the bus until its time is over, and a new attach
// talks to it again.
TEST(SimHubGadget, VendorRequestsAndStringsGoToTheChip) {
  GadgetRig rig;
  SimGadgetReply r = rig.stIn(0x80, 6, 0x03FF, 0, 16);
  ASSERT_EQ(r.eKind, K::kData);
  EXPECT_EQ(r.vecData[0] | (r.vecData[1] << 8), 0x6420);  // the chip id, raw
  r = rig.stIn(0x80, 6, 0x0301, 0x0409, 255);
  ASSERT_EQ(r.eKind, K::kData);
  EXPECT_EQ(r.vecData[2], 'V');
  EXPECT_EQ(rig.stIn(0x80, 6, 0x0302, 0x0409, 255).eKind, K::kStall);  // no product string
  r = rig.stIn(0xC0, 0x52, 0, 0x5820, 1);
  ASSERT_EQ(r.eKind, K::kData);
  EXPECT_EQ(r.vecData, std::vector<uint8_t>({0x11}));
  EXPECT_EQ(rig.stIn(0xC1, 0x52, 0, 0x5820, 1).eKind, K::kStall);          // not to the device
  EXPECT_EQ(rig.stOut(0x40, 0x53, 0x12, 0x7FF, {0x12}).eKind, K::kStall);  // the erase status
  EXPECT_EQ(rig.stOut(0x40, 0x53, 0x12, 0x100, {0x12}).eKind, K::kAck);
  EXPECT_EQ(rig.stIn(0xC0, 0x52, 0, 0x100, 1).vecData, std::vector<uint8_t>({0x12}));
  EXPECT_EQ(rig.gadget->ullVendorRequests(), 5u);

  r = rig.stOut(0x40, 0x54, 0, 0);
  EXPECT_EQ(r.eKind, K::kAck);
  EXPECT_TRUE(r.bLeftBus);
  EXPECT_FALSE(rig.gadget->bPresent());
  r = rig.stIn(0xC0, 0x52, 0, 0x5820, 1);  // gone: refused, and still off the bus
  EXPECT_EQ(r.eKind, K::kStall);
  EXPECT_TRUE(r.bLeftBus);
  rig.clock.bSleepMs(500);
  EXPECT_TRUE(rig.gadget->bPresent());
  EXPECT_EQ(rig.stIn(0xC0, 0x52, 0, 0x5820, 1).eKind, K::kStall);  // the old session is dead
  rig.gadget->vAttach();
  EXPECT_EQ(rig.stIn(0xC0, 0x52, 0, 0x100, 1).vecData, std::vector<uint8_t>({0}));  // registers reset
}
