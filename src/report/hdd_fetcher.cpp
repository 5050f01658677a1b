#include "report/hdd_fetcher.h"

#include <ntddscsi.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "base/scoped_handle.h"

namespace KrellMacID {

namespace {

constexpr int kDeviceNumbers = 16;
// Identify data is only trusted when the driver reports a buffer reaching the
// model words.
constexpr DWORD kMinIdentifyBufferSize = 46;

// SENDCMDINPARAMS and SENDCMDOUTPARAMS end in a one-byte placeholder for the
// data that follows them.
constexpr DWORD kSmartInputBytes = sizeof(SENDCMDINPARAMS) - 1;                             // 32
constexpr DWORD kSmartOutputHeaderBytes = sizeof(SENDCMDOUTPARAMS) - 1;                     // 16
constexpr DWORD kSmartOutputBytes = kSmartOutputHeaderBytes + CHddFetcher::kIdentifyBytes;  // 528
constexpr DWORD kSmartBlockBytes = sizeof(SENDCMDINPARAMS) + CHddFetcher::kIdentifyBytes;   // 545

constexpr ULONG kMiniportIdentify = 0x1B0501;
constexpr ULONG kMiniportTimeoutSeconds = 10000;
constexpr DWORD kMiniportDataBytes = sizeof(SENDCMDOUTPARAMS) + CHddFetcher::kIdentifyBytes;  // 529
constexpr DWORD kMiniportInputBytes = sizeof(SRB_IO_CONTROL) + kSmartInputBytes;              // 60
constexpr DWORD kMiniportOutputBytes = sizeof(SRB_IO_CONTROL) + kMiniportDataBytes;           // 557
// Offset, inside the identify data, of the first model byte as stored.
constexpr size_t kModelFirstByte = 54;

static_assert(kSmartInputBytes == 32 && kSmartOutputBytes == 528 && kSmartBlockBytes == 545);
static_assert(kMiniportInputBytes == 60 && kMiniportOutputBytes == 557);

bool IsPrintable(unsigned char c) { return c >= 0x20 && c <= 0x7e; }
bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsAlphanumeric(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The value of a character read as a hexadecimal digit, white space reading
// as 0; -1 for anything else.
int HexDigitValue(unsigned char c) {
  if (IsSpace(c)) return 0;
  if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Nothing when a digit is missing or a pair gives a byte that is neither
// zero nor printable.
std::optional<std::string> DecodeHexText(std::string_view source) {
  std::string decoded;
  bool ended = false;
  int high = -1;
  for (char c : source) {
    int digit = HexDigitValue(static_cast<unsigned char>(c));
    if (digit < 0) return std::nullopt;
    if (high < 0) {
      high = digit;
      continue;
    }
    auto byte = static_cast<unsigned char>(high * 16 + digit);
    high = -1;
    if (byte != 0 && !IsPrintable(byte)) return std::nullopt;
    if (byte == 0) ended = true;
    if (!ended) decoded.push_back(static_cast<char>(byte));
  }
  return decoded;
}

std::string RawText(std::string_view source) {
  for (char c : source) {
    if (!IsPrintable(static_cast<unsigned char>(c))) return {};
  }
  return std::string(source);
}

std::string WordsText(const uint8_t* identify, int firstWord, int lastWord) {
  std::string text;
  for (int word = firstWord; word <= lastWord; ++word) {
    text.push_back(static_cast<char>(identify[2 * word + 1]));
    text.push_back(static_cast<char>(identify[2 * word]));
  }
  text.resize(std::strlen(text.c_str()));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

ScopedHandle OpenDevice(const char* format, int number, DWORD access, DWORD share) {
  char path[32];
  std::snprintf(path, sizeof path, format, number);
  return ScopedHandle(::CreateFileA(path, access, share, nullptr, OPEN_EXISTING, 0, nullptr));
}

DWORD OutputBufferSize(const uint8_t* output) {
  DWORD size = 0;
  std::memcpy(&size, output + offsetof(SENDCMDOUTPARAMS, cBufferSize), sizeof size);
  return size;
}

std::optional<DiskIdentity> FromSmartWithVersion(int drive) {
  ScopedHandle device = OpenDevice("\\\\.\\PhysicalDrive%d", drive, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!device) return std::nullopt;
  GETVERSIONINPARAMS version{};
  DWORD returned = 0;
  // Drivers differ in what they report for this call; only the map matters.
  ::DeviceIoControl(device.Get(), SMART_GET_VERSION, nullptr, 0, &version, sizeof version,
                    &returned, nullptr);
  if (version.bIDEDeviceMap == 0) return std::nullopt;

  SENDCMDINPARAMS input{};
  input.cBufferSize = CHddFetcher::kIdentifyBytes;
  input.irDriveRegs.bFeaturesReg = 0;
  input.irDriveRegs.bSectorCountReg = 1;
  input.irDriveRegs.bCylLowReg = 0;
  input.irDriveRegs.bCylHighReg = 0;
  input.irDriveRegs.bDriveHeadReg = static_cast<BYTE>(0xA0 | ((drive & 1) << 4));
  input.irDriveRegs.bCommandReg =
      ((version.bIDEDeviceMap >> (4 + drive)) & 1) ? ATAPI_ID_CMD : ID_CMD;
  input.bDriveNumber = static_cast<BYTE>(drive);
  uint8_t output[kSmartOutputBytes] = {};
  if (!::DeviceIoControl(device.Get(), SMART_RCV_DRIVE_DATA, &input, kSmartInputBytes, output,
                         kSmartOutputBytes, &returned, nullptr) ||
      OutputBufferSize(output) <= kMinIdentifyBufferSize) {
    return std::nullopt;
  }
  return CHddFetcher::IdentityFromIdentifyData(output + kSmartOutputHeaderBytes);
}

std::optional<DiskIdentity> FromScsiMiniport(int controller) {
  ScopedHandle device = OpenDevice("\\\\.\\Scsi%d:", controller, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!device) return std::nullopt;
  std::optional<DiskIdentity> found;
  for (int drive = 0; drive < 2; ++drive) {
    uint8_t buffer[kMiniportOutputBytes] = {};
    SRB_IO_CONTROL header{};
    header.HeaderLength = sizeof(SRB_IO_CONTROL);
    std::memcpy(header.Signature, "SCSIDISK", sizeof header.Signature);
    header.Timeout = kMiniportTimeoutSeconds;
    header.ControlCode = kMiniportIdentify;
    header.Length = kMiniportDataBytes;
    std::memcpy(buffer, &header, sizeof header);
    SENDCMDINPARAMS command{};
    command.irDriveRegs.bCommandReg = ID_CMD;
    command.bDriveNumber = static_cast<BYTE>(drive);
    std::memcpy(buffer + sizeof header, &command, kSmartInputBytes);

    DWORD returned = 0;
    if (!::DeviceIoControl(device.Get(), IOCTL_SCSI_MINIPORT, buffer, kMiniportInputBytes, buffer,
                           kMiniportOutputBytes, &returned, nullptr)) {
      continue;
    }
    const uint8_t* identify = buffer + sizeof(SRB_IO_CONTROL) + kSmartOutputHeaderBytes;
    if (identify[kModelFirstByte] != 0) found = CHddFetcher::IdentityFromIdentifyData(identify);
  }
  return found;
}

std::optional<DiskIdentity> FromStorageQuery(int drive) {
  ScopedHandle device =
      OpenDevice("\\\\.\\PhysicalDrive%d", drive, 0, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!device) return std::nullopt;
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  alignas(8) uint8_t descriptor[CHddFetcher::kDescriptorBytes] = {};
  DWORD returned = 0;
  if (!::DeviceIoControl(device.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                         descriptor, sizeof descriptor, &returned, nullptr)) {
    return std::nullopt;
  }
  return CHddFetcher::IdentityFromDescriptor(descriptor, sizeof descriptor);
}

std::optional<DiskIdentity> FromSmartWithoutVersion(int drive) {
  ScopedHandle device = OpenDevice("\\\\.\\PhysicalDrive%d", drive, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!device) return std::nullopt;
  GETVERSIONINPARAMS version{};
  DWORD returned = 0;
  if (!::DeviceIoControl(device.Get(), SMART_GET_VERSION, nullptr, 0, &version, sizeof version,
                         &returned, nullptr)) {
    return std::nullopt;
  }
  uint8_t block[kSmartBlockBytes] = {};
  auto* input = reinterpret_cast<SENDCMDINPARAMS*>(block);  // packed: any address will do
  input->irDriveRegs.bCommandReg = ID_CMD;
  if (!::DeviceIoControl(device.Get(), SMART_RCV_DRIVE_DATA, block, sizeof(SENDCMDINPARAMS), block,
                         kSmartBlockBytes, &returned, nullptr) ||
      OutputBufferSize(block) <= kMinIdentifyBufferSize) {
    return std::nullopt;
  }
  return CHddFetcher::IdentityFromIdentifyData(block + kSmartOutputHeaderBytes);
}

}  // namespace

std::optional<DiskIdentity> CHddFetcher::GetDiskIdentity() const {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!::GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) {
    return std::nullopt;
  }
  using Method = std::optional<DiskIdentity> (*)(int);
  for (Method method :
       {FromSmartWithVersion, FromScsiMiniport, FromStorageQuery, FromSmartWithoutVersion}) {
    for (int number = 0; number < kDeviceNumbers; ++number) {
      if (std::optional<DiskIdentity> identity = method(number)) return identity;
    }
  }
  return std::nullopt;
}

DiskIdentity CHddFetcher::IdentityFromIdentifyData(const uint8_t* identify) {
  DiskIdentity identity;
  identity.serialNumber = WordsText(identify, 10, 19);
  identity.firmwareRevision = WordsText(identify, 23, 26);
  identity.model = WordsText(identify, 27, 46);
  return identity;
}

std::optional<DiskIdentity> CHddFetcher::IdentityFromDescriptor(const uint8_t* descriptor,
                                                                size_t size) {
  if (size < sizeof(STORAGE_DEVICE_DESCRIPTOR)) return std::nullopt;
  auto field = [descriptor](size_t fieldOffset) {
    DWORD value = 0;
    std::memcpy(&value, descriptor + fieldOffset, sizeof value);
    return static_cast<size_t>(value);
  };
  DiskIdentity identity;
  identity.model = DescriptorText(
      descriptor, size, field(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset)), false);
  identity.firmwareRevision = DescriptorText(
      descriptor, size, field(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductRevisionOffset)), false);
  identity.serialNumber = DescriptorText(
      descriptor, size, field(offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset)), true);
  const std::string& serial = identity.serialNumber;
  bool firstUsable = !serial.empty() && IsAlphanumeric(static_cast<unsigned char>(serial[0]));
  bool twentiethUsable =
      serial.size() >= 20 && IsAlphanumeric(static_cast<unsigned char>(serial[19]));
  if (!firstUsable && !twentiethUsable) return std::nullopt;
  return identity;
}

std::string CHddFetcher::DescriptorText(const uint8_t* descriptor, size_t size, size_t offset,
                                        bool swapPairs) {
  if (offset == 0 || offset >= size) return {};
  const char* start = reinterpret_cast<const char*>(descriptor + offset);
  size_t length = 0;
  while (offset + length < size && start[length] != '\0') ++length;
  std::string_view source(start, length);

  std::optional<std::string> decoded = DecodeHexText(source);
  std::string text = decoded ? std::move(*decoded) : RawText(source);

  if (swapPairs) {
    // An odd last character trades places with the end of the text.
    if (text.size() % 2 != 0) text.pop_back();
    for (size_t i = 0; i + 1 < text.size(); i += 2) std::swap(text[i], text[i + 1]);
  }

  size_t first = 0;
  while (first < text.size() && IsSpace(static_cast<unsigned char>(text[first]))) ++first;
  size_t last = text.size();
  while (last > first && IsSpace(static_cast<unsigned char>(text[last - 1]))) --last;
  return text.substr(first, last - first);
}

}  // namespace KrellMacID
