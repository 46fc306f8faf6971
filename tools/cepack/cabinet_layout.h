// The fixed layout of a Microsoft cabinet (MS-CAB), shared by the writer, the
// reader and lint's header check so that the three agree field by field.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cepack::cabinet_layout {

// CFHEADER's fixed part and the offsets of the fields read from it; the
// reserve sizes and the neighbouring cabinets' names follow where flagged.
constexpr size_t HeaderSize = 36;
constexpr size_t HeaderCbCabinet = 8;
constexpr size_t HeaderCoffFiles = 16;
constexpr size_t HeaderVersionMinor = 24;
constexpr size_t HeaderVersionMajor = 25;
constexpr size_t HeaderCFolders = 26;
constexpr size_t HeaderCFiles = 28;
constexpr size_t HeaderFlags = 30;
constexpr size_t HeaderSetId = 32;
constexpr size_t HeaderICabinet = 34;
constexpr size_t ReserveSizesSize = 4;  // cbCFHeader, cbCFFolder, cbCFData
constexpr uint16_t FlagPrevCabinet = 0x0001;
constexpr uint16_t FlagNextCabinet = 0x0002;
constexpr uint16_t FlagReservePresent = 0x0004;
constexpr uint32_t MaxHeaderReserve = 60000;

// CFFOLDER, CFFILE (before its name) and CFDATA (before its data).
constexpr size_t FolderSize = 8;
constexpr size_t FileFixedSize = 16;
constexpr size_t DataHeaderSize = 8;
constexpr size_t NameMax = 256;  // with its NUL
constexpr uint16_t CompressionMask = 0x000F;
constexpr uint16_t CompressionNone = 0;
constexpr uint16_t CompressionMszip = 1;
// iFolder values of a file continued from or into a neighbouring cabinet.
constexpr uint16_t FolderContinued = 0xFFFD;
// A data block's uncompressed bytes at most.
constexpr size_t BlockMax = 32768;

}  // namespace cepack::cabinet_layout
