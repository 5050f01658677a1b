#include "report/mac_fetcher.h"

#include <iphlpapi.h>
#include <nb30.h>

#include <cstdio>
#include <cstring>

#include "base/scoped_handle.h"

namespace KrellMacID {

namespace {

constexpr ULONG kAdapterListBytes = 10368;
constexpr WORD kLanaEnumBytes = 256;
constexpr WORD kAdapterStatusBytes = 600;
constexpr DWORD kPnpInstanceIdChars = 260;  // terminator included: 259 characters of text

const char kNetworkClassKey[] =
    "System\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

using GetAdaptersInfoFunction = ULONG(WINAPI*)(PIP_ADAPTER_INFO, PULONG);

bool IsAllZero(const MacAddress& address) {
  for (uint8_t byte : address) {
    if (byte != 0) return false;
  }
  return true;
}

MacAddress FirstSixBytes(const void* bytes) {
  MacAddress address;
  std::memcpy(address.data(), bytes, address.size());
  return address;
}

}  // namespace

std::string MacText(const MacAddress& address) {
  char text[13];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x", address[0], address[1], address[2],
                address[3], address[4], address[5]);
  return text;
}

MacAddress CMacFetcher::GetMacAddress() const {
  if (std::optional<MacAddress> address = FromAdapterList()) return *address;
  if (std::optional<MacAddress> address = FromNetBios()) return *address;
  return kFallbackMacAddress;
}

std::optional<MacAddress> CMacFetcher::ChooseAdapter(
    const std::vector<AdapterCandidate>& adapters) {
  MacAddress chosen{};
  int chosenClass = kAdapterClassUnknown;
  for (const AdapterCandidate& adapter : adapters) {
    if (IsAllZero(chosen)) {
      chosen = adapter.address;
      chosenClass = adapter.adapterClass;
    } else if ((adapter.type == kAdapterTypeEthernet || adapter.type == kAdapterTypePpp) &&
               adapter.adapterClass < chosenClass) {
      chosen = adapter.address;
      chosenClass = adapter.adapterClass;
    }
  }
  if (IsAllZero(chosen)) return std::nullopt;
  return chosen;
}

int CMacFetcher::ClassifyAdapter(const std::string& adapterName) {
  HKEY raw = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNetworkClassKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) {
    return kAdapterClassUnknown;
  }
  ScopedRegKey networkKey(raw);
  std::string connectionPath = adapterName + "\\Connection";
  raw = nullptr;
  if (::RegOpenKeyExA(networkKey.Get(), connectionPath.c_str(), 0, KEY_READ, &raw) !=
      ERROR_SUCCESS) {
    return kAdapterClassUnknown;
  }
  ScopedRegKey connectionKey(raw);

  DWORD mediaSubType = 0;
  DWORD type = 0;
  DWORD size = sizeof mediaSubType;
  if (::RegQueryValueExA(connectionKey.Get(), "MediaSubType", nullptr, &type,
                         reinterpret_cast<BYTE*>(&mediaSubType), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof mediaSubType) {
    return kAdapterClassUnknown;
  }
  // One spare character keeps a terminator after a value stored without one.
  char instanceId[kPnpInstanceIdChars + 1] = {};
  size = kPnpInstanceIdChars;
  if (::RegQueryValueExA(connectionKey.Get(), "PnpInstanceID", nullptr, &type,
                         reinterpret_cast<BYTE*>(instanceId), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return kAdapterClassUnknown;
  }

  if (mediaSubType == 1) {
    return std::strncmp(instanceId, "PCI", 3) == 0 ? kAdapterClassBuiltInWired
                                                   : kAdapterClassOtherWired;
  }
  if (mediaSubType == 2) return kAdapterClassWireless;
  return kAdapterClassUnknown;
}

std::optional<MacAddress> CMacFetcher::FromAdapterList() const {
  wchar_t systemFolder[MAX_PATH];
  UINT length = ::GetSystemDirectoryW(systemFolder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  std::wstring libraryPath = std::wstring(systemFolder, length) + L"\\iphlpapi.dll";
  ScopedModule library(::LoadLibraryW(libraryPath.c_str()));
  if (!library) return std::nullopt;
  auto getAdaptersInfo = reinterpret_cast<GetAdaptersInfoFunction>(
      reinterpret_cast<void*>(::GetProcAddress(library.Get(), "GetAdaptersInfo")));
  if (!getAdaptersInfo) return std::nullopt;

  // IP_ADAPTER_INFO holds pointers and 64-bit times: the buffer keeps their alignment.
  std::vector<uint64_t> buffer(kAdapterListBytes / sizeof(uint64_t));
  auto* first = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  ULONG size = kAdapterListBytes;
  if (getAdaptersInfo(first, &size) != ERROR_SUCCESS) return std::nullopt;

  std::vector<AdapterCandidate> adapters;
  for (const IP_ADAPTER_INFO* adapter = first; adapter; adapter = adapter->Next) {
    AdapterCandidate candidate;
    candidate.adapterClass = ClassifyAdapter(adapter->AdapterName);
    candidate.address = FirstSixBytes(adapter->Address);
    candidate.type = adapter->Type;
    adapters.push_back(candidate);
  }
  return ChooseAdapter(adapters);
}

std::optional<MacAddress> CMacFetcher::FromNetBios() const {
  UCHAR lanaBuffer[kLanaEnumBytes] = {};
  NCB enumerate{};
  enumerate.ncb_command = NCBENUM;
  enumerate.ncb_buffer = lanaBuffer;
  enumerate.ncb_length = kLanaEnumBytes;
  if (::Netbios(&enumerate) != NRC_GOODRET) return std::nullopt;
  const auto* lanas = reinterpret_cast<const LANA_ENUM*>(lanaBuffer);

  for (int index = static_cast<int>(lanas->length) - 1; index >= 0; --index) {
    UCHAR lana = lanas->lana[index];
    NCB reset{};
    reset.ncb_command = NCBRESET;
    reset.ncb_lana_num = lana;
    ::Netbios(&reset);

    UCHAR status[kAdapterStatusBytes] = {};
    NCB query{};
    query.ncb_command = NCBASTAT;
    query.ncb_lana_num = lana;
    query.ncb_callname[0] = '*';
    query.ncb_buffer = status;
    query.ncb_length = kAdapterStatusBytes;
    if (::Netbios(&query) != NRC_GOODRET) continue;
    MacAddress address = FirstSixBytes(status);
    if (!IsAllZero(address)) return address;
  }
  return std::nullopt;
}

}  // namespace KrellMacID
