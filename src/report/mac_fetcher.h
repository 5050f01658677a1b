// The network adapter's MAC address, one source of the machine id. The
// address always exists: the adapter list, then NetBIOS, then a fixed value.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace KrellMacID {

using MacAddress = std::array<uint8_t, 6>;

// Taken when neither the adapter list nor NetBIOS names an address.
inline constexpr MacAddress kFallbackMacAddress{0x1a, 0x2b, 0x3c, 0x4d, 0x5e, 0x6f};

// Adapter types, as the adapter list reports them, that may displace an
// adapter chosen earlier.
inline constexpr UINT kAdapterTypeEthernet = 6;
inline constexpr UINT kAdapterTypePpp = 23;

// Preference of an adapter, lower is better: 0 a built-in wired card, 1 a
// wireless one, 2 another wired one, 3 unknown.
inline constexpr int kAdapterClassBuiltInWired = 0;
inline constexpr int kAdapterClassWireless = 1;
inline constexpr int kAdapterClassOtherWired = 2;
inline constexpr int kAdapterClassUnknown = 3;

// One entry of the adapter list, already classified.
struct AdapterCandidate {
  MacAddress address{};
  UINT type = 0;
  int adapterClass = kAdapterClassUnknown;
};

// 12 lowercase hexadecimal digits, no separators.
std::string MacText(const MacAddress& address);

// The two lookups are virtual so tests can stand in for the system's.
class CMacFetcher {
 public:
  virtual ~CMacFetcher() = default;

  // The first address the lookups give, else kFallbackMacAddress.
  MacAddress GetMacAddress() const;

  // The adapter list of iphlpapi.dll (loaded from the system folder for the
  // call); nothing when the list does not fit 10368 bytes or every chosen
  // address is all zeros.
  virtual std::optional<MacAddress> FromAdapterList() const;
  // NetBIOS adapter status, walking the LAN adapters from the last one.
  virtual std::optional<MacAddress> FromNetBios() const;

  // The adapter the list walk keeps: the first one whose address is not all
  // zeros, displaced by a later Ethernet or PPP adapter of a lower class.
  static std::optional<MacAddress> ChooseAdapter(const std::vector<AdapterCandidate>& adapters);
  // The class of an adapter by its name (a GUID text), from its connection
  // key under HKEY_LOCAL_MACHINE; kAdapterClassUnknown when anything is missing.
  static int ClassifyAdapter(const std::string& adapterName);
};

}  // namespace KrellMacID
