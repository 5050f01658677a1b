// The channel configuration as the installer ends up with it: the same
// conversions, order and failure behaviour as its start-up reader, on the
// installer's defaults. Lets the tool show, and warn about, what a chain of
// blocks really means.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace wexchannel {

// The installer's channel fields with their defaults. gameName and title are
// kept as UTF-8 here (the installer widens them).
struct ChannelSettings {
  uint64_t buildid = 0;
  uint32_t supplyid = 0;
  int32_t international = 0;
  std::string pkgName;
  std::string area;
  int32_t silentMode = 0;
  std::string marketExternParams;
  std::string sourceid;
  int32_t bkgPngNumber = 0;
  bool createMarketIcon = false;
  bool installMarket = true;
  bool installUI = false;
  bool installRootfs = false;
  bool installVDI = false;
  bool installVDI71 = false;
  bool installQuib = false;
  std::string gameName;
  std::string title;
};

struct EffectiveConfig {
  ChannelSettings settings;
  // Key -> index (into the applied documents) of the document whose value is
  // in effect. Keys absent here keep their defaults.
  std::map<std::string, size_t, std::less<>> source;
  // The exception text that stopped the installer applying (a value of the
  // wrong type), and in which document; nothing after it was applied.
  std::string applyError;
  std::optional<size_t> applyErrorDocument;
};

// Applies `documents` (nearest the end of the file first) as the installer
// does: in list order, each key in the installer's order, later documents
// overwriting earlier ones, stopping at the first value of the wrong type.
EffectiveConfig ApplyAsInstaller(const std::vector<nlohmann::json>& documents);

// Every field in key order as (key, value text): numbers in decimal, strings
// as JSON strings, booleans as true/false.
std::vector<std::pair<std::string, std::string>> DescribeSettings(const ChannelSettings& settings);

}  // namespace wexchannel
