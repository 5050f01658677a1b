#include "channel_keys.h"

#include <array>

namespace wexchannel {

namespace {

constexpr std::array<ChannelKey, 18> kChannelKeys = {{
    {"buildid", KeyKind::kNumber, NumberField::kUnsigned64},
    {"supplyid", KeyKind::kNumber, NumberField::kUnsigned32},
    {"international", KeyKind::kNumber, NumberField::kSigned32},
    {"pkgName", KeyKind::kString},
    {"area", KeyKind::kString},
    {"silentMode", KeyKind::kNumber, NumberField::kSigned32},
    {"marketExternParams", KeyKind::kString},
    {"sourceid", KeyKind::kString},
    {"bkgPngNumber", KeyKind::kNumber, NumberField::kSigned32},
    {"createMarketIcon", KeyKind::kBoolean},
    {"installMarket", KeyKind::kBoolean},
    {"installUI", KeyKind::kBoolean},
    {"installRootfs", KeyKind::kBoolean},
    {"installVDI", KeyKind::kBoolean},
    {"installVDI71", KeyKind::kBoolean},
    {"installQuib", KeyKind::kBoolean},
    {"gameName", KeyKind::kString},
    {"title", KeyKind::kString},
}};

}  // namespace

std::span<const ChannelKey> ChannelKeys() { return kChannelKeys; }

const ChannelKey* FindChannelKey(std::string_view name) {
  for (const ChannelKey& key : kChannelKeys) {
    if (key.name == name) return &key;
  }
  return nullptr;
}

std::string_view KindName(KeyKind kind) {
  switch (kind) {
    case KeyKind::kNumber: return "a number";
    case KeyKind::kString: return "a string";
    case KeyKind::kBoolean: return "a boolean";
  }
  return "?";
}

}  // namespace wexchannel
