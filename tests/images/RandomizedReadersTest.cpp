// A long randomized run of the firmware and configuration ROM readers against a model of
// their rules written independently of them: sizes around every boundary, random names and
// extensions, random and nearly-valid contents. Fixed seeds, so a failure repeats.
#include <gtest/gtest.h>

#include <random>

#include "ImagesFixture.h"
#include "images/ConfigTable.h"
#include "images/FlashImage.h"
#include "images/HubFirmware.h"

namespace {

std::string strLower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

uint8_t ucModelCheck(const std::string& strName, const std::vector<uint8_t>& v) {
  const std::string ext = strName.size() >= 4 ? strLower(strName.substr(strName.size() - 4)) : "";
  size_t nTypeOfs;
  if (ext == ".bin") {
    if (v.size() > 65272) return 0xF6;
    if (v.size() < 0x206) return 0xFF;
    nTypeOfs = 0x203;
  } else if (ext == ".rom") {
    if (v.size() != 65536) return 0xF2;
    nTypeOfs = 0x305;
  } else {
    return 0xFF;
  }
  const int t = (v[nTypeOfs] >> 4) & 7;
  return t <= 3 ? static_cast<uint8_t>(t) : 0xFF;
}

uint8_t ucSum(const std::vector<uint8_t>& v, size_t a, size_t b) {
  unsigned s = 0;
  for (size_t i = a; i <= b; ++i) s += v[i];
  return static_cast<uint8_t>(s);
}

bool bModelRom(const std::vector<uint8_t>& v) {
  return v.size() >= 256 && v[254] == 0xAA && v[255] == ucSum(v, 4, 254);
}

EReadConfigResult eModelLoad(const std::vector<uint8_t>& v) {
  if (v.size() > 256 + 65536 + 8) return EReadConfigResult::Failed;
  if (v.size() < 256 || (v[254] != 0x4B && v[254] != 0x3C && v[254] != 0x2D))
    return EReadConfigResult::InvalidSignature;
  if (v[255] != ucSum(v, 4, 254)) return EReadConfigResult::InvalidChecksum;
  return EReadConfigResult::Loaded;
}

// Signature byte the name gives (0 = refused).
uint8_t ucModelSignature(const std::string& strName, bool bCrc) {
  std::string base = strName;
  if (size_t dot = base.rfind('.'); dot != std::string::npos) base.erase(dot);
  std::string s;
  for (char c : base)
    if (c != '_') s += c;
  if (s.size() < 8) return 0;
  unsigned v = 0;
  for (int i = 6; i < 8; ++i) {
    const char c = s[static_cast<size_t>(i)];
    int d = (c >= '0' && c <= '9')   ? c - '0'
            : (c >= 'a' && c <= 'f') ? c - 'a' + 10
            : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                     : -1;
    if (d < 0) break;
    v = v * 16 + static_cast<unsigned>(d);
  }
  const unsigned t = (v >> 4) & 7;
  if (t > 3) return 0;
  static const uint8_t off[4] = {0, 0x4B, 0x3C, 0x2D}, on[4] = {0xA5, 0xB4, 0xC3, 0xD2};
  return bCrc ? on[t] : off[t];
}

struct Case {
  std::string strName;
  std::vector<uint8_t> data;
};

Case stRandomCase(std::mt19937& rng) {
  static const size_t kSizes[] = {0,     1,     4,     254,   255,   256,   257,   0x205, 0x206, 0x306,
                                  0x308, 65271, 65272, 65273, 65535, 65536, 65537, 65800, 65801};
  static const char* kExt[] = {".bin", ".BIN", ".rom", ".Rom", ".hex", "", ".ro", ".bin.x"};
  static const char kChars[] = "0123456789ABCDEFabcdefGZ_-";
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  Case c;
  const size_t nSize = pick(3) == 0 ? pick(70000) : kSizes[pick(std::size(kSizes))];
  c.data.resize(nSize);
  for (uint8_t& b : c.data) b = static_cast<uint8_t>(rng());
  // Often nearly valid: a table with a chosen signature and a right (or one-off) sum.
  if (nSize >= 256 && pick(2) == 0) {
    static const uint8_t kSig[] = {0xAA, 0x4B, 0x3C, 0x2D, 0xA5, 0x00};
    c.data[254] = kSig[pick(std::size(kSig))];
    c.data[255] = static_cast<uint8_t>(ucSum(c.data, 4, 254) + (pick(4) == 0 ? 1 : 0));
  }
  if (pick(3) == 0) c.strName += "Config_";
  const size_t nLen = pick(14);
  for (size_t i = 0; i < nLen; ++i) c.strName += kChars[pick(sizeof kChars - 1)];
  c.strName += kExt[pick(std::size(kExt))];
  if (c.strName.empty() || c.strName[0] == '.') c.strName = "f" + c.strName;
  return c;
}

}  // namespace

TEST(RandomizedReaders, AgreeWithTheModelAndStayInBounds) {
  ImagesFixture f;
  std::mt19937 rng(20240601);
  int nLoaded = 0, nImages = 0;
  for (int it = 0; it < 500; ++it) {
    const Case c = stRandomCase(rng);
    const std::string p = f.strWrite("r/" + c.strName, c.data);
    SCOPED_TRACE(c.strName + " size " + std::to_string(c.data.size()) + " it " + std::to_string(it));

    EXPECT_EQ(vIsValidHubFirmware(p), ucModelCheck(c.strName, c.data));
    EXPECT_EQ(bIsFirmwareRomFile(p), bModelRom(c.data));
    EXPECT_EQ(bIsFirmwareRomData(c.data.data(), c.data.size()), bModelRom(c.data));
    EXPECT_EQ(stImageSignatureFromName(p, false).ucSignature, ucModelSignature(c.strName, false));
    EXPECT_EQ(stImageSignatureFromName(p, true).ucSignature, ucModelSignature(c.strName, true));

    if (it % 3 == 0) {
      const EReadConfigResult e = f.images.vReadConfigFromFile(p);
      EXPECT_EQ(e, eModelLoad(c.data));
      if (e == EReadConfigResult::Loaded) {
        ++nLoaded;
        EXPECT_TRUE(std::equal(c.data.begin(), c.data.begin() + 256, f.devList.dev[0].ucConfigBlock.begin()));
        EXPECT_EQ(vecReadFile(f.pathImage()), std::vector<uint8_t>(c.data.begin() + 256, c.data.end()));
      }
    }
    if (it % 3 == 1) {
      const bool bCrc = (it & 4) != 0;
      const uint8_t ucSig = ucModelSignature(c.strName, bCrc);
      const bool bExpect = ucSig != 0 && !c.data.empty() && c.data.size() <= 65536;
      EXPECT_EQ(f.images.vCreateTempBinDataFile(bCrc ? 1 : 0, p), bExpect);
      const std::vector<uint8_t> img = vecReadFile(f.pathImage());
      if (bExpect) {
        ++nImages;
        ASSERT_EQ(img.size(), c.data.size() + 8);
        EXPECT_EQ(img[0] | (img[1] << 8), static_cast<int>(c.data.size() & 0xFFFF));
        EXPECT_EQ(img[c.data.size() + 2], ucSig);
        EXPECT_EQ(img[c.data.size() + 3], ucSum(c.data, 0, c.data.size() - 1));
        if (!bCrc) {
          for (size_t i = c.data.size() + 4; i < img.size(); ++i) EXPECT_EQ(img[i], 0xFF);
        }
      } else {
        EXPECT_TRUE(img.empty());
      }
    }
  }
  // The run really exercised the writing paths.
  EXPECT_GT(nLoaded, 5);
  EXPECT_GT(nImages, 5);
}

TEST(RandomizedReaders, ContainerAndNameParsersOnArbitraryText) {
  std::mt19937 rng(7);
  auto fnHex = [](const std::string& s) {
    uint32_t v = 0;
    for (char ch : s) {
      const int c = std::toupper(static_cast<unsigned char>(ch));
      if (!std::isxdigit(c)) break;
      v = v * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'A' + 10);
    }
    return v;
  };
  for (int it = 0; it < 3000; ++it) {
    std::string s(std::uniform_int_distribution<size_t>(0, 40)(rng), '\0');
    for (char& ch : s) ch = static_cast<char>(rng());
    const auto b = stContainerIdBytes(s, fnHex);
    // The first byte is the low byte of the first group's number.
    EXPECT_EQ(b[0], static_cast<uint8_t>(fnHex(s.substr(0, std::min<size_t>(8, s.size())))));
    const ImageSignature sig = stImageSignatureFromName(s, true);
    EXPECT_LE(sig.strChars.size(), 2u);
    EXPECT_EQ(sig.bRefused, sig.ucSignature == 0);
  }
}
