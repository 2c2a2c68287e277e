// Thousands of inputs mutated from valid files, a fixed seed each: every reader must give
// 0 or -10 and leave only images the flows can walk safely (run under ASan in the suite).
#include <gtest/gtest.h>

#include <random>

#include "pd/PDFirmwareImages.h"
#include "support/PDFixtures.h"

using namespace pdfix;

namespace {

constexpr int ROUNDS = 3000;

std::string strMutate(std::string s, std::mt19937& rng) {
  static const std::string pick("0123456789ABCDEFaf:\r\nZ \x00\xFF", 25);
  const int nEdits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < nEdits; ++e) {
    const size_t nPos = s.empty() ? 0 : rng() % s.size();
    const char ch = pick[rng() % pick.size()];
    switch (rng() % 7) {
      case 0:
        if (!s.empty()) s[nPos] = ch;
        break;
      case 1:
        s.insert(nPos, 1, ch);
        break;
      case 2:
        if (!s.empty()) s.erase(nPos, 1 + rng() % 8);
        break;
      case 3:
        s.resize(nPos);  // truncated file
        break;
      case 4: {  // a line copied elsewhere
        const size_t nStart = s.rfind('\n', nPos);
        const size_t nFrom = nStart == std::string::npos ? 0 : nStart + 1;
        const size_t nEnd = s.find('\n', nFrom);
        const std::string line =
            s.substr(nFrom, nEnd == std::string::npos ? std::string::npos : nEnd - nFrom + 1);
        s.insert(rng() % (s.size() + 1), line);
        break;
      }
      case 5:
        if (!s.empty()) s[nPos] = static_cast<char>(s[nPos] ^ (1 << (rng() % 8)));
        break;
      default:  // a length or count field made large
        if (s.size() > nPos + 4) s.replace(nPos, 4, "FFFF");
        break;
    }
  }
  return s;
}

class MutationTest : public ::testing::Test {
 protected:
  Host host;
  CPDFirmwareImages images{[this](std::string_view s) { return host.utility.vCharToHex(std::string(s)); }};
};

template <typename Rows>
void vCheckCyacdImage(const Rows& rows, size_t nRowSize) {
  ASSERT_LE(rows.size(), CYACD_MAX_SLOTS);
  if (!rows.empty()) {
    EXPECT_EQ(rows[0].ucArrayID, CYACD_HEADER_ARRAY_ID);  // slot 0 is the header
  }
  for (const auto& r : rows) ASSERT_LE(r.dwDataLen, nRowSize);
}

TEST_F(MutationTest, CyacdReaderSurvivesMutatedFiles) {
  std::mt19937 rng(0x5eed1);
  const std::string base3 = strCyacdFile("1D0411AD0000", 5, 128);
  const std::string base4 = strCyacdFile("140411A40000", 3, 256);
  int nAccepted = 0, nRefused = 0;
  for (int i = 0; i < ROUNDS; ++i) {
    const bool bCCG4 = i % 2 == 1;
    const std::string input = strMutate(bCCG4 ? base4 : base3, rng);
    const int n = images.nReadCyacd(input, bCCG4 ? CCG4_ROW_SIZE : CCG3_ROW_SIZE);
    ASSERT_TRUE(n == 0 || n == -10) << i;
    (n == 0 ? nAccepted : nRefused)++;
    if (bCCG4)
      vCheckCyacdImage(images.m_CypressCCG4FWBuf, CCG4_ROW_SIZE);
    else
      vCheckCyacdImage(images.m_CypressFWBuf, CCG3_ROW_SIZE);
  }
  // The mutations reach both outcomes, so both paths are exercised.
  EXPECT_GT(nAccepted, ROUNDS / 20);
  EXPECT_GT(nRefused, ROUNDS / 20);
}

TEST_F(MutationTest, HexReaderSurvivesMutatedFiles) {
  std::mt19937 rng(0x5eed2);
  std::string base = strHexFile(8);
  base += strHexRecord(0, 0xBFF0, vecRowData(16, 9)) + "\n";  // the image's last bytes
  int nAccepted = 0, nRefused = 0;
  for (int i = 0; i < ROUNDS; ++i) {
    const int n = images.nReadIntelHex(strMutate(base, rng));
    ASSERT_TRUE(n == 0 || n == -10) << i;
    (n == 0 ? nAccepted : nRefused)++;
    ASSERT_LE(images.m_STMMCUFW.size(), MCU_MAX_RECORDS);
    for (const STMHexRecord& r : images.m_STMMCUFW) {
      ASSERT_LE(r.ucDataType, HEX_START_LINEAR_ADDRESS);
      if (r.ucDataType == HEX_DATA) {
        ASSERT_LE(r.dwAddress + r.ucByteCount, MCU_IMAGE_SIZE);
      }
    }
    size_t nLength = 0;
    uint16_t wExt = 0;
    const auto image = images.vecMCUImage(nLength, wExt);
    ASSERT_EQ(image.size(), MCU_IMAGE_SIZE);
    ASSERT_LE(nLength, MCU_IMAGE_SIZE);
  }
  EXPECT_GT(nAccepted, ROUNDS / 20);
  EXPECT_GT(nRefused, ROUNDS / 20);
}

TEST_F(MutationTest, RichtekReaderSurvivesMutatedFiles) {
  std::mt19937 rng(0x5eed3);
  const std::string base = strRichtekFile();
  int nAccepted = 0;
  for (int i = 0; i < ROUNDS; ++i) {
    const std::string input = strMutate(base, rng);
    const int n = images.nReadRichtek({reinterpret_cast<const uint8_t*>(input.data()), input.size()});
    ASSERT_EQ(n, input.size() == RICHTEK_IMAGE_SIZE ? 0 : -10) << i;
    nAccepted += n == 0;
  }
  EXPECT_GT(nAccepted, 0);
}

}  // namespace
