// Reads the chain of channel blocks at the end of a file the way the
// installer walks it, but keeps going past a bad block (its trailer still
// gives its length) so that everything in the file can be shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace wexchannel {

struct ChannelBlockInfo {
  uint64_t dataOffset = 0;     // file offset of the data; the trailer follows it
  uint32_t length = 0;         // data bytes, as the trailer states
  std::string storedDigest;    // as the trailer holds it
  std::string computedDigest;  // of the data, lower case
  bool digestOk = false;       // compared without regard to case
  std::string text;            // the data up to its first zero byte
  bool zeroTerminated = false;
  uint32_t bytesAfterZero = 0;  // covered by the digest, never parsed
  // Set when the digest holds and the text parses as JSON.
  std::optional<nlohmann::json> document;
  std::string parseError;
};

struct BlockChain {
  std::vector<ChannelBlockInfo> blocks;  // nearest the end of the file first
  // The installer stops at the first block whose digest fails or whose text
  // does not parse: it reads blocks[0, installerReads).
  size_t installerReads = 0;
  uint64_t endOffset = 0;  // the walk found no further block ending here
  std::string endReason;

  // The documents the installer applies, in its order.
  std::vector<nlohmann::json> InstallerDocuments() const;
};

BlockChain WalkChannelBlocks(std::span<const uint8_t> file);

}  // namespace wexchannel
