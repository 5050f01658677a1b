#include "effective_config.h"

#include <exception>

namespace wexchannel {

namespace {

class Applier {
 public:
  Applier(const nlohmann::json& document, size_t index, EffectiveConfig& config)
      : document_(document), index_(index), config_(config) {}

  // The installer's conversion: nlohmann's get<T>, which throws type_error
  // for a value of the wrong type and converts any number (and a boolean)
  // to a number field without range checks.
  template <typename T>
  void Key(const char* key, T& field) {
    if (!document_.contains(key)) return;
    field = document_.at(key).get<T>();
    config_.source[key] = index_;
  }

 private:
  const nlohmann::json& document_;
  size_t index_;
  EffectiveConfig& config_;
};

std::string Text(const std::string& value) {
  return nlohmann::json(value).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
std::string Text(bool value) { return value ? "true" : "false"; }
template <typename T>
std::string Text(T value) { return std::to_string(value); }

}  // namespace

EffectiveConfig ApplyAsInstaller(const std::vector<nlohmann::json>& documents) {
  EffectiveConfig config;
  ChannelSettings& s = config.settings;
  for (size_t i = 0; i < documents.size(); ++i) {
    const nlohmann::json& document = documents[i];
    Applier apply(document, i, config);
    try {
      apply.Key("buildid", s.buildid);
      apply.Key("supplyid", s.supplyid);
      apply.Key("international", s.international);
      apply.Key("pkgName", s.pkgName);
      apply.Key("area", s.area);
      apply.Key("silentMode", s.silentMode);
      apply.Key("marketExternParams", s.marketExternParams);
      apply.Key("sourceid", s.sourceid);
      apply.Key("bkgPngNumber", s.bkgPngNumber);
      apply.Key("createMarketIcon", s.createMarketIcon);
      apply.Key("installMarket", s.installMarket);
      apply.Key("installUI", s.installUI);
      apply.Key("installRootfs", s.installRootfs);
      apply.Key("installVDI", s.installVDI);
      apply.Key("installVDI71", s.installVDI71);
      apply.Key("installQuib", s.installQuib);
      if (document.is_object()) {
        apply.Key("gameName", s.gameName);
        apply.Key("title", s.title);
      }
    } catch (const std::exception& e) {
      config.applyError = e.what();
      config.applyErrorDocument = i;
      break;
    }
  }
  return config;
}

std::vector<std::pair<std::string, std::string>> DescribeSettings(const ChannelSettings& s) {
  return {
      {"buildid", Text(s.buildid)},
      {"supplyid", Text(s.supplyid)},
      {"international", Text(s.international)},
      {"pkgName", Text(s.pkgName)},
      {"area", Text(s.area)},
      {"silentMode", Text(s.silentMode)},
      {"marketExternParams", Text(s.marketExternParams)},
      {"sourceid", Text(s.sourceid)},
      {"bkgPngNumber", Text(s.bkgPngNumber)},
      {"createMarketIcon", Text(s.createMarketIcon)},
      {"installMarket", Text(s.installMarket)},
      {"installUI", Text(s.installUI)},
      {"installRootfs", Text(s.installRootfs)},
      {"installVDI", Text(s.installVDI)},
      {"installVDI71", Text(s.installVDI71)},
      {"installQuib", Text(s.installQuib)},
      {"gameName", Text(s.gameName)},
      {"title", Text(s.title)},
  };
}

}  // namespace wexchannel
