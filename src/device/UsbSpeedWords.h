// What the device record's USB text, chip register and protocol mean to the queries of the
// command line, the USB status check of a run and the colour of the run's bar.
//
// The record keeps the USB text identification builds: "U" + the second and third digits of
// the hub's USB release, then for a SuperSpeed hub the link of its upstream port:
// "U2.1", "U3.2_5Gx1", "U3.2_10Gx2", "U3.2_Unknown". The checks compare speed words:
//
//   USB text               speed word   class    /SPD   why
//   U1.x                   "FULL"       FULL      6     a USB 1.x hub runs at full speed
//   U2.x                   "HIGH"       HIGH      7     a USB 2 hub (or a USB 3 hub without
//                                                       its SuperSpeed half) runs at high speed
//   U3.x_5Gx1              "SUPER"      SUPER     8     5 Gbit/s, one lane (Gen 1x1)
//   U3.x_5Gx2              "PLUS"       PLUS      9     10 Gbit/s over two lanes (Gen 1x2) is
//                                                       SuperSpeed Plus
//   U3.x_10Gx1             "PLUS"       PLUS      9     10 Gbit/s, one lane (Gen 2x1)
//   U3.x_10Gx2             "PLUS x2"    PLUS     11     20 Gbit/s over two lanes (Gen 2x2)
//   U3.x_Unknown, other    ""           ""       -1     the link could not be read: no speed
//
// A text that already is a speed word ("super", "PLUS x1"...) stands for itself (case
// ignored), so records filled by hand or by older code still answer. "SUPER x1" and
// "PLUS x1" are accepted by /SPD as the one-lane forms of "SUPER" and "PLUS"; the mapping
// itself never produces them.
//
// The class (the speed word without its lane count) is what the USB status check and the
// bar colour compare: a 20 Gbit/s hub satisfies a "USB 3.1" demand and colours the bar blue.
#pragma once

#include <cstdint>
#include <string>

#include "host/DeviceList.h"

constexpr uint8_t QUERY_CODE_UNKNOWN = 0xFF;
constexpr uint8_t PROTOCOL_CODE_USB3 = 0;  // "/PROT" exits 3
constexpr uint8_t PROTOCOL_CODE_USB2 = 1;  // "/PROT" exits 2

// The speed word of a USB text (table above); "" when none applies.
std::string strUsbSpeedWord(const std::string& strUSBText);
// The speed word without its lane count: "FULL", "HIGH", "SUPER", "PLUS" or "".
std::string strUsbSpeedClass(const std::string& strUSBText);
// The "/SPD" exit code of a speed word, ignoring case: "FULL" 6, "HIGH" 7, "SUPER" and
// "SUPER x1" 8, "PLUS" and "PLUS x1" 9, "PLUS x2" 11; -1 for anything else.
int nSpeedWordExitCode(const std::string& strWord);
// The "/SPD" exit code of a record's USB text: nSpeedWordExitCode(strUsbSpeedWord(text)).
int nUsbTextSpeedExitCode(const std::string& strUSBText);

// The speed class a USB status selection demands: "USB 2.0" "HIGH", "USB 3.0" "SUPER",
// "USB 3.1" "PLUS" (ignoring case); null for a selection that makes no demand.
const char* pszUsbStatusDemand(const std::string& strSelection);
// The USB status check: true when the selection makes no demand or the hub's speed class
// equals the demanded one (ignoring case).
bool bUsbTextMeetsDemand(const std::string& strUSBText, const std::string& strSelection);
// The run's bar is blue when the first hub runs at SuperSpeed or SuperSpeed Plus.
bool bUsbTextIsSuperSpeed(const std::string& strUSBText);

// The protocol code "/PROT" reads: 0 when the hub works as a USB 3 hub (its USB text starts
// "U3"; the USB 3 protocol, exit 3), 1 as a USB 2 or USB 1 hub (exit 2), 0xFF when the text
// says neither (exit -1).
uint8_t ucProtocolCodeFromUsbText(const std::string& strUSBText);
// The chip code "/IC" reads: the chip variant, bits 6..4 of chip register 0x5820 as
// identification reads it (preset 0xFF, so a failed read gives 7, which "/IC" reports as 255).
inline uint8_t ucChipCodeFromChipRegister(uint8_t ucReg5820) {
  return static_cast<uint8_t>((ucReg5820 >> 4) & 0x07);
}

// Sets the record's chip code from the chip register byte read by identification (0xFF when
// the read failed) and its protocol code from its USB text. Call once the USB text is final
// (after the SuperSpeed half has updated it).
void vFillQueryCodes(DevRecord& rec, uint8_t ucReg5820);
