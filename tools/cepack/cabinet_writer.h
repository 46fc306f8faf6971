// Writes one Microsoft cabinet (MS-CAB) as a device cabinet needs it: the
// header, a single folder, the file table and the data blocks of 32 KiB of
// member data each, uncompressed or MSZIP.
//
// Members go in the order given, with the given 8.3 name and DOS date/time,
// and plain attributes whatever the source had. Their data is pulled from
// each member's source in pieces, so memory stays the same whatever the
// input's size. The same members give the same bytes.
//
// Use:
//   std::vector<CabinetMember> members;
//   members.push_back({"SETUP.000", size, dosDate, dosTime, source});
//   FILE* out = fopen(path, "wb");
//   if (!WriteCabinet(out, members, CabinetCompression::Mszip, &error)) ...
// Everything the format cannot hold (names, counts, sizes) is refused before
// a byte is written; a source that fails or gives other than its size stops
// the writing, and the partly written file is the caller's to remove.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace cepack {

enum class CabinetCompression { None, Mszip };

// Puts the member's next bytes into out (at most capacity) and sets *got:
// 0 only once the data has ended. False, with *error set, when it cannot read.
using CabinetSource = std::function<bool(uint8_t* out, size_t capacity, size_t* got, std::string* error)>;

struct CabinetMember {
    std::string name;  // 8.3 ASCII, stored as given
    uint64_t size;     // exactly what source will give
    uint16_t dosDate;  // (year - 1980) << 9 | month << 5 | day
    uint16_t dosTime;  // hour << 11 | minute << 5 | second / 2
    CabinetSource source;
};

// The most data one folder holds: 65535 blocks of 32 KiB.
constexpr uint64_t CabinetMaxData = 65535ull * 32768;
constexpr size_t CabinetMaxMembers = 65535;

// out is a fresh file opened for writing in binary mode; the cabinet starts
// at its first byte (the header's size field is filled in last, once the
// compressed size is known). False with *error set.
bool WriteCabinet(FILE* out, const std::vector<CabinetMember>& members, CabinetCompression compression,
                  std::string* error);

// Whether name is a DOS 8.3 name of printable ASCII: the form a device
// cabinet's members take.
bool IsCabinetMemberName(const std::string& name);

}  // namespace cepack
