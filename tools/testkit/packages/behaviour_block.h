// The behaviour block that the test kit appends to a copy of one of its
// programs, so that each copy knows what to do without arguments:
//
//   [program][payload: P bytes][JSON: J bytes][P: u64 LE][J: u64 LE]["WEXKITB1"]
//
// The JSON is UTF-8; the payload is opaque (a package carries its Kallup.exe
// copy there). tools/testkit/make_package.py writes the same layout.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace testkit {

inline constexpr char kBlockMagic[8] = {'W', 'E', 'X', 'K', 'I', 'T', 'B', '1'};
inline constexpr size_t kTrailerBytes = 8 + 8 + sizeof kBlockMagic;

struct BehaviourBlock {
  std::string json;
  std::string payload;
};

// The bytes to append to a program for `json` and `payload`.
inline std::string EncodeBehaviourBlock(const std::string& json, const std::string& payload) {
  std::string out = payload + json;
  for (uint64_t value : {static_cast<uint64_t>(payload.size()), static_cast<uint64_t>(json.size())}) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
  out.append(kBlockMagic, sizeof kBlockMagic);
  return out;
}

// Reads the block at the end of the file at `path`. False when the file
// cannot be read or carries no well-formed block.
inline bool ReadBehaviourBlock(const std::wstring& path, BehaviourBlock& block) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary | std::ios::ate);
  if (!in) return false;
  const uint64_t fileSize = static_cast<uint64_t>(in.tellg());
  if (fileSize < kTrailerBytes) return false;
  char trailer[kTrailerBytes];
  in.seekg(static_cast<std::streamoff>(fileSize - kTrailerBytes));
  if (!in.read(trailer, sizeof trailer)) return false;
  if (std::string(trailer + 16, 8) != std::string(kBlockMagic, 8)) return false;
  auto number = [&](int at) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(trailer[at + i]);
    return value;
  };
  const uint64_t payloadSize = number(0);
  const uint64_t jsonSize = number(8);
  const uint64_t available = fileSize - kTrailerBytes;
  if (payloadSize > available || jsonSize > available - payloadSize) return false;
  block.payload.resize(payloadSize);
  block.json.resize(jsonSize);
  in.seekg(static_cast<std::streamoff>(available - jsonSize - payloadSize));
  return static_cast<bool>(in.read(block.payload.data(), static_cast<std::streamsize>(payloadSize))) &&
         static_cast<bool>(in.read(block.json.data(), static_cast<std::streamsize>(jsonSize)));
}

}  // namespace testkit
