// Text conversions every layer makes the same way: upper case and hexadecimal digits.
// ASCII only, whatever the process locale: device paths, identities, serial numbers and the
// command line are compared byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// a-z become A-Z; every other byte stays.
std::string strUpper(std::string s);

// The value of one hexadecimal digit (0-9, a-f, A-F), or -1 for any other character.
int nHexDigit(char c);

// Four upper-case digits ("2F7B"), as identities are written.
std::string strHex4(uint16_t usValue);
// "0x" and two upper-case digits ("0x0F").
std::string strHexByte(uint8_t ucValue);
// Two upper-case digits a byte, no separator ("2F7B55AA").
std::string strHexBytes(const uint8_t* pData, size_t nLen);
