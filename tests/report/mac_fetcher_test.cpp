#include "report/mac_fetcher.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace KrellMacID {
namespace {

const MacAddress kZero{};
const MacAddress kA{0x00, 0x1c, 0x42, 0x00, 0x00, 0x0a};
const MacAddress kB{0x00, 0x1c, 0x42, 0x00, 0x00, 0x0b};
const MacAddress kC{0x00, 0x1c, 0x42, 0x00, 0x00, 0x0c};
constexpr UINT kWireless = 71;  // IF_TYPE_IEEE80211

struct ChoiceCase {
  const char* name;
  std::vector<AdapterCandidate> adapters;
  std::optional<MacAddress> expected;
};

TEST(MacFetcherTest, AdapterChoice) {
  const ChoiceCase cases[] = {
      {"no adapters", {}, std::nullopt},
      {"only zero addresses", {{kZero, kAdapterTypeEthernet, 0}}, std::nullopt},
      {"first taken whatever its type", {{kA, kWireless, 3}}, kA},
      {"lower-class Ethernet displaces", {{kA, kWireless, 3}, {kB, kAdapterTypeEthernet, 0}}, kB},
      {"lower-class PPP displaces", {{kA, kAdapterTypeEthernet, 2}, {kB, kAdapterTypePpp, 1}}, kB},
      {"lower class of another type does not",
       {{kA, kAdapterTypeEthernet, 2}, {kB, kWireless, 0}},
       kA},
      {"equal class does not", {{kA, kAdapterTypeEthernet, 1}, {kB, kAdapterTypeEthernet, 1}}, kA},
      {"higher class does not", {{kA, kAdapterTypeEthernet, 0}, {kB, kAdapterTypeEthernet, 2}}, kA},
      {"zero address passed over", {{kZero, kAdapterTypeEthernet, 0}, {kB, kWireless, 3}}, kB},
      {"compared with the kept class",
       {{kA, kAdapterTypeEthernet, 2},
        {kB, kAdapterTypeEthernet, 0},
        {kC, kAdapterTypeEthernet, 1}},
       kB},
  };
  for (const ChoiceCase& c : cases) {
    std::optional<MacAddress> chosen = CMacFetcher::ChooseAdapter(c.adapters);
    EXPECT_EQ(chosen.has_value(), c.expected.has_value()) << c.name;
    if (chosen && c.expected) {
      EXPECT_EQ(MacText(*chosen), MacText(*c.expected)) << c.name;
    }
  }
}

class ScriptedFetcher : public CMacFetcher {
 public:
  ScriptedFetcher(std::optional<MacAddress> list, std::optional<MacAddress> netBios)
      : list_(list), netBios_(netBios) {}
  std::optional<MacAddress> FromAdapterList() const override { return list_; }
  std::optional<MacAddress> FromNetBios() const override {
    ++netBiosAsked;
    return netBios_;
  }
  mutable int netBiosAsked = 0;

 private:
  std::optional<MacAddress> list_;
  std::optional<MacAddress> netBios_;
};

TEST(MacFetcherTest, AdapterListThenNetBiosThenFixedAddress) {
  ScriptedFetcher both(kA, kB);
  EXPECT_EQ(MacText(both.GetMacAddress()), "001c4200000a");
  EXPECT_EQ(both.netBiosAsked, 0);
  EXPECT_EQ(MacText(ScriptedFetcher(std::nullopt, kB).GetMacAddress()), "001c4200000b");
  EXPECT_EQ(MacText(ScriptedFetcher(std::nullopt, std::nullopt).GetMacAddress()), "1a2b3c4d5e6f");
}

// Connection keys written into the prefix's real registry, removed afterwards.
class AdapterClassTest : public ::testing::Test {
 protected:
  static constexpr char kNetworkKey[] =
      "System\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

  void TearDown() override {
    for (const std::string& name : created_) {
      ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kNetworkKey) + "\\" + name).c_str());
    }
  }

  // An adapter name whose connection key holds the given values.
  std::string AddAdapter(std::optional<DWORD> mediaSubType, std::optional<std::string> instanceId) {
    std::string name = "{WEX-TEST-" + std::to_string(::GetCurrentProcessId()) + "-" +
                       std::to_string(created_.size()) + "}";
    created_.push_back(name);
    std::string path = std::string(kNetworkKey) + "\\" + name + "\\Connection";
    HKEY key = nullptr;
    EXPECT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    if (!key) return name;
    if (mediaSubType) {
      ::RegSetValueExA(key, "MediaSubType", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&*mediaSubType), sizeof(DWORD));
    }
    if (instanceId) {
      ::RegSetValueExA(key, "PnpInstanceID", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(instanceId->c_str()),
                       static_cast<DWORD>(instanceId->size() + 1));
    }
    ::RegCloseKey(key);
    return name;
  }

  std::vector<std::string> created_;
};

TEST_F(AdapterClassTest, ClassFromMediaSubTypeAndInstanceId) {
  struct Case {
    const char* name;
    std::optional<DWORD> mediaSubType;
    std::optional<std::string> instanceId;
    int expected;
  };
  const std::string pci = "PCI\\VEN_8086&DEV_15B8&SUBSYS_86721043&REV_00\\3&11583659&0&FE";
  const Case cases[] = {
      {"built-in wired", 1, pci, kAdapterClassBuiltInWired},
      {"other wired", 1, std::string("USB\\VID_0BDA&PID_8153\\000001"), kAdapterClassOtherWired},
      {"wireless", 2, pci, kAdapterClassWireless},
      {"other medium", 3, pci, kAdapterClassUnknown},
      {"no media sub-type", std::nullopt, pci, kAdapterClassUnknown},
      {"no instance id", 1, std::nullopt, kAdapterClassUnknown},
      {"longest instance id", 1, "PCI" + std::string(256, 'x'), kAdapterClassBuiltInWired},
      {"instance id too long", 1, "PCI" + std::string(257, 'x'), kAdapterClassUnknown},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CMacFetcher::ClassifyAdapter(AddAdapter(c.mediaSubType, c.instanceId)), c.expected)
        << c.name;
  }
  EXPECT_EQ(CMacFetcher::ClassifyAdapter("{WEX-TEST-NOT-THERE}"), kAdapterClassUnknown);
}

}  // namespace
}  // namespace KrellMacID
