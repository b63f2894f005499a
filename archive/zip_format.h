// Numbers of the ZIP format that the reader relies on: record signatures,
// fixed record lengths and the extra-field ids it interprets.
#ifndef KV_ZIP_FORMAT_H
#define KV_ZIP_FORMAT_H

#include <cstdint>

constexpr uint32_t SIG_LOCAL_HEADER = 0x04034b50;
constexpr uint32_t SIG_CENTRAL_HEADER = 0x02014b50;
constexpr uint32_t SIG_END_RECORD = 0x06054b50;
constexpr uint32_t SIG_ZIP64_END_RECORD = 0x06064b50;
constexpr uint32_t SIG_ZIP64_LOCATOR = 0x07064b50;

constexpr uint32_t LOCAL_HEADER_SIZE = 30;
constexpr uint32_t CENTRAL_HEADER_SIZE = 46;
constexpr uint32_t END_RECORD_SIZE = 22;
constexpr uint32_t ZIP64_LOCATOR_SIZE = 20;
constexpr uint32_t ZIP64_END_RECORD_SIZE = 56;  // the fixed part, without extensible data

// The end record lies in the archive's last 65,557 bytes: the record and the
// longest comment it can announce.
constexpr uint32_t END_SCAN_WINDOW = END_RECORD_SIZE + 65535;
// Bytes of an entry name kept; the rest of the stored name is dropped.
constexpr uint32_t NAME_KEEP_MAX = 255;

constexpr uint16_t EXTRA_ZIP64 = 0x0001;
constexpr uint16_t EXTRA_AES = 0x9901;
constexpr uint16_t EXTRA_UNICODE_PATH = 0x7075;

constexpr uint16_t FLAG_ENCRYPTED = 0x0001;
constexpr uint16_t FLAG_METHOD_VARIANT = 0x0002;
constexpr uint16_t FLAG_DATA_DESCRIPTOR = 0x0008;
constexpr uint16_t FLAG_UTF8 = 0x0800;

constexpr uint32_t METHOD_STORED = 0;
constexpr uint32_t METHOD_SHRINK = 1;
constexpr uint32_t METHOD_IMPLODE = 6;
constexpr uint32_t METHOD_DEFLATE = 8;
constexpr uint32_t METHOD_DEFLATE64 = 9;
constexpr uint32_t METHOD_BZIP2 = 12;
constexpr uint32_t METHOD_LZMA = 14;
constexpr uint32_t METHOD_AES = 99;

// Host system: the high byte of "version made by".
constexpr uint32_t HOST_UNIX = 3;

#endif
