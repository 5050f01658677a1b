#include "block_chain.h"

#include <cctype>
#include <cstring>

#include "base/md5.h"
#include "config/channel_trailer.h"
#include "tool_error.h"

namespace wexchannel {

namespace {

bool SameDigest(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<nlohmann::json> BlockChain::InstallerDocuments() const {
  std::vector<nlohmann::json> documents;
  for (size_t i = 0; i < installerReads; ++i) documents.push_back(*blocks[i].document);
  return documents;
}

BlockChain WalkChannelBlocks(std::span<const uint8_t> file) {
  BlockChain chain;
  bool installerStopped = false;
  uint64_t cursor = file.size();
  for (;;) {
    if (cursor < ChannelTrailer::kSize) {
      chain.endReason = "too few bytes before " + Hex(cursor) + " for a trailer";
      break;
    }
    const ChannelTrailer trailer = ChannelTrailer::Parse(&file[cursor - ChannelTrailer::kSize]);
    if (!trailer.IsPlausible()) {
      chain.endReason = "no trailer ends at " + Hex(cursor) + " (magic " + Hex(trailer.magic) +
                        ", length " + std::to_string(trailer.length) + ")";
      break;
    }
    const uint64_t trailerOffset = cursor - ChannelTrailer::kSize;
    if (trailer.length > trailerOffset) {
      chain.endReason = "the trailer at " + Hex(trailerOffset) + " states " + std::to_string(trailer.length) +
                        " bytes of data, more than the file holds before it";
      break;
    }
    ChannelBlockInfo block;
    block.length = trailer.length;
    block.dataOffset = trailerOffset - trailer.length;
    block.storedDigest = trailer.digest;
    const uint8_t* data = &file[block.dataOffset];
    block.computedDigest = Md5::HexOf(data, block.length);
    block.digestOk = SameDigest(block.computedDigest, block.storedDigest);
    const void* zero = std::memchr(data, 0, block.length);
    const size_t textLength = zero ? static_cast<const uint8_t*>(zero) - data : block.length;
    block.text.assign(reinterpret_cast<const char*>(data), textLength);
    block.zeroTerminated = zero != nullptr;
    block.bytesAfterZero = zero ? static_cast<uint32_t>(block.length - textLength - 1) : 0;
    if (block.digestOk) {
      try {
        block.document = nlohmann::json::parse(block.text);
      } catch (const std::exception& e) {
        block.parseError = e.what();
      }
    }
    if (!installerStopped && block.document) {
      ++chain.installerReads;
    } else {
      installerStopped = true;
    }
    chain.blocks.push_back(std::move(block));
    cursor = chain.blocks.back().dataOffset;
  }
  chain.endOffset = cursor;
  return chain;
}

}  // namespace wexchannel
