#include "stamper.h"

#include <cstring>

#include "block_chain.h"
#include "channel_keys.h"
#include "channel_validation.h"
#include "config/channel_trailer.h"
#include "effective_config.h"
#include "pe_image.h"
#include "tool_error.h"

namespace wexchannel {

namespace {

constexpr uint64_t kBlockAlignment = 8;

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

// What the new block means once an older chain is read after it.
std::vector<std::string> ChainWarnings(const nlohmann::ordered_json& document, const std::string& jsonText,
                                       const BlockChain& chain) {
  std::vector<std::string> warnings;
  // Block numbers as inspect shows them for the output: the new block is #1.
  auto label = [&](size_t index) {
    return "block #" + std::to_string(index + 2) + " (data at " + Hex(chain.blocks[index].dataOffset) + ")";
  };
  if (chain.installerReads < chain.blocks.size()) {
    const ChannelBlockInfo& bad = chain.blocks[chain.installerReads];
    warnings.push_back("the existing " + label(chain.installerReads) +
                       (bad.digestOk ? " does not parse as JSON" : " fails its digest check") +
                       ": the installer stops there and ignores it and every older block");
  }
  std::vector<nlohmann::json> documents{nlohmann::json::parse(jsonText)};
  for (nlohmann::json& older : chain.InstallerDocuments()) documents.push_back(std::move(older));
  const EffectiveConfig config = ApplyAsInstaller(documents);
  for (const auto& [name, value] : document.items()) {
    if (FindChannelKey(name) == nullptr) continue;
    auto found = config.source.find(name);
    if (found == config.source.end() || found->second == 0) continue;
    const size_t older = found->second - 1;
    warnings.push_back("key \"" + name + "\" of the new block is shadowed by the older " + label(older) +
                       ", which sets it to " + documents[found->second].at(name).dump() +
                       ": the installer keeps the value of the block further from the end of the file");
  }
  if (config.applyErrorDocument && *config.applyErrorDocument > 0) {
    warnings.push_back("the installer stops applying at the older " + label(*config.applyErrorDocument - 1) +
                       ": " + config.applyError);
  }
  return warnings;
}

}  // namespace

std::vector<uint8_t> EncodeBlock(const std::string& jsonText, uint32_t padding) {
  const uint64_t length = jsonText.size() + 1 + uint64_t{padding};
  if (length > UINT32_MAX) throw ToolError("the channel document is too large for a block");
  std::vector<uint8_t> block(length, 0);
  std::memcpy(block.data(), jsonText.data(), jsonText.size());
  const auto trailer = ChannelTrailer::Build(block.data(), static_cast<uint32_t>(length));
  block.insert(block.end(), trailer.begin(), trailer.end());
  return block;
}

StampResult StampChannel(std::span<const uint8_t> input, const nlohmann::ordered_json& document) {
  ValidationReport report = ValidateChannelDocument(document);
  if (!report.Ok()) throw ToolError(Joined(report.errors));
  const PeLayout layout = ReadPeLayout(input);

  StampResult result;
  result.warnings = std::move(report.warnings);
  try {
    result.jsonText = document.dump();
  } catch (const nlohmann::json::exception& e) {
    throw ToolError(std::string("the channel document cannot be written as UTF-8 JSON: ") + e.what());
  }
  const uint64_t unpadded = result.jsonText.size() + 1 + ChannelTrailer::kSize;

  CertificateTable table;
  if (layout.IsSigned()) {
    table = CheckCertificateTable(input, layout);
    result.insideCertificateTable = true;
    result.padding = static_cast<uint32_t>((kBlockAlignment - (table.size + unpadded) % kBlockAlignment) %
                                           kBlockAlignment);
  }
  const std::vector<uint8_t> block = EncodeBlock(result.jsonText, result.padding);
  if (result.insideCertificateTable && input.size() + block.size() > UINT32_MAX) {
    throw ToolError("the signed image would grow past 4 GiB, beyond what its certificate table can describe");
  }
  for (std::string& warning : ChainWarnings(document, result.jsonText, WalkChannelBlocks(input))) {
    result.warnings.push_back(std::move(warning));
  }

  result.dataOffset = input.size();
  result.dataLength = static_cast<uint32_t>(block.size() - ChannelTrailer::kSize);
  result.image.reserve(input.size() + block.size());
  result.image.assign(input.begin(), input.end());
  result.image.insert(result.image.end(), block.begin(), block.end());

  if (result.insideCertificateTable) {
    const uint32_t grown = static_cast<uint32_t>(block.size());
    StoreLe32(&result.image[layout.securityEntryOffset + 4], table.size + grown);
    StoreLe32(&result.image[table.lastEntryOffset], table.lastEntryLength + grown);
  }
  // The checksum is outside the Authenticode digest, so keeping it right
  // costs the signature nothing; an image without one is left without.
  if (LoadLe32(&result.image[layout.checksumOffset]) != 0) {
    StoreLe32(&result.image[layout.checksumOffset], PeChecksum(result.image, layout.checksumOffset));
  }
  return result;
}

}  // namespace wexchannel
