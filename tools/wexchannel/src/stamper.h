// Appends one channel block to the bytes of a PE image. An unsigned image
// gets the block at its end. A signed image gets it at the end of its
// Authenticode certificate table (which must end the file), and both the
// table's size in the security directory and the dwLength of its last
// WIN_CERTIFICATE grow by the block's size, so the signature stays intact and
// the table stays well formed; zero bytes after the text's terminating zero
// keep every block, and the table, a multiple of 8 bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace wexchannel {

struct StampResult {
  std::vector<uint8_t> image;  // the whole new file
  std::string jsonText;        // exactly the text embedded (compact, key order kept)
  bool insideCertificateTable = false;
  uint64_t dataOffset = 0;
  uint32_t dataLength = 0;  // text + its zero byte + padding; the trailer follows
  uint32_t padding = 0;     // zero bytes after the terminating zero
  // Keys the installer ignores, keys of the new block an older block shadows,
  // older blocks the installer cannot read.
  std::vector<std::string> warnings;
};

// Validates `document` and stamps it onto `input`. Throws ToolError, one
// line per problem, when the document is refused, `input` is not a PE image
// or its certificate table cannot take a block; `input` is never changed.
StampResult StampChannel(std::span<const uint8_t> input, const nlohmann::ordered_json& document);

// The block for `jsonText`: the text, one zero byte, `padding` zero bytes,
// then the trailer over all of them.
std::vector<uint8_t> EncodeBlock(const std::string& jsonText, uint32_t padding);

}  // namespace wexchannel
