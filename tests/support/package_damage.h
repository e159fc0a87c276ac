// Damage done to a built package file for hostile-input tests, one knob at a
// time. A package file is an 8-byte header (magic u32le, length u32le) and
// parts (type u16le, length u32le, payload); offsets below 0 count from the end.
//   flip OFFSET [MASK]   xor the byte with MASK (default 0x01)
//   cut SIZE             keep SIZE bytes; cut -K drops the last K bytes
//   length N|fit         the file header's length field; fit: the size less 8
//   part K N             the length field of the K-th part (from 1)
//   type T N             the length field of the first part of type T
//   unsigned             drop every signature part (type 9) and fit the length
// Appending bytes is done by the caller, which reads contents.
#pragma once

#include <string>
#include <vector>

bool damagePackage(const std::vector<std::string>& knob, std::string* bytes, std::string* error);
