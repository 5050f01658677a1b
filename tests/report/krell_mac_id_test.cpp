#include "report/krell_mac_id.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/md5.h"
#include "base/module_path.h"
#include "base/scoped_handle.h"
#include "base/text_convert.h"
#include "support/test_paths.h"

namespace KrellMacID {
namespace {

const MacAddress kMac{0x00, 0x1c, 0x42, 0x0a, 0x0b, 0x0c};
const char kMacText[] = "001c420a0b0c";
const DiskIdentity kDisk{"WD-WX11A9876543", "WDC WD10EZEX-08M2NA0", "01.01A01"};
const char kDiskText[] = "WD-WX11A9876543WDC WD10EZEX-08M2NA001.01A01";
const char kBrand[] = "       Intel(R) Core(TM) i5-4570 CPU @ 3.20GHz";
const char kRecordedId[] = "00112233445566778899aabbccddeeff";

std::string HexOf(const std::string& text) { return Md5::HexOf(text.data(), text.size()); }

bool IsLowerHex(const std::string& text, size_t length) {
  if (text.size() != length) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

class FakeSources : public MachineSources {
 public:
  FakeSources(MacAddress mac, std::optional<DiskIdentity> disk, std::string brand)
      : mac_(mac), disk_(std::move(disk)), brand_(std::move(brand)) {}
  MacAddress GetMacAddress() const override { return mac_; }
  std::optional<DiskIdentity> GetDiskIdentity() const override { return disk_; }
  std::string GetCpuBrand() const override { return brand_; }

 private:
  MacAddress mac_;
  std::optional<DiskIdentity> disk_;
  std::string brand_;
};

std::string ProfilePath(const ScratchFolder& appData) {
  return WideToAnsi(appData.Path()) + "Vorlenk\\Plaxupdate\\OmnilMgr.db";
}

std::string ProfileLayout(const std::string& id, const std::string& mac, const std::string& disk,
                          const std::string& cpu) {
  return "[Profile]\r\nconfig1=" + id + "\r\nconfig2=" + mac + "\r\nconfig3=" + disk +
         "\r\nconfig4=" + cpu + "\r\nconfig5=1\r\n";
}

// ---------------------------------------------------------------------------
// Profile rules: given sources and a recorded profile, which id comes out and
// whether the file is rewritten.

enum class Outcome {
  kReused,            // the recorded id, file untouched
  kDerived,           // MD5 of MAC text and disk identity, file rewritten
  kDerivedWithBrand,  // ... with the processor brand appended
};

// What the machine has besides its MAC address.
enum class Machine { kDiskAndBrand, kDiskOnly, kBrandOnly };

struct ProfileCase {
  const char* name;
  Machine machine;
  bool profileExists;
  // Values of config1..config5; nullptr leaves the key out. Placeholders:
  // {id} the recorded id, {mac} {disk} {cpu} this run's hashes, {MAC} {CPU}
  // the same in capitals, {other} a hash of something else.
  const char* config[5];
  Outcome outcome;
};

constexpr Machine kAll = Machine::kDiskAndBrand;
constexpr Machine kNoBrand = Machine::kDiskOnly;
constexpr Machine kNoDisk = Machine::kBrandOnly;
constexpr Outcome kReused = Outcome::kReused;
constexpr Outcome kDerived = Outcome::kDerived;
constexpr Outcome kWithBrand = Outcome::kDerivedWithBrand;
const char kShortId[] = "00112233445566778899aabbccddeef";
const char kLongId[] = "00112233445566778899aabbccddeeff00";
const char kNonHexId[] = "zz112233445566778899aabbccddeeff";

// clang-format off
const ProfileCase kProfileCases[] = {
    {"NoProfile",          kAll, false, {},                                             kDerived},
    {"ProfileWithoutKeys", kAll, true,  {},                                             kDerived},
    {"AllMatch",           kAll, true,  {"{id}", "{mac}", "{disk}", "{cpu}", "1"},      kReused},
    {"NewDisk",            kAll, true,  {"{id}", "{mac}", "{other}", "{cpu}", "1"},     kReused},
    {"NewNetworkCard",     kAll, true,  {"{id}", "{other}", "{disk}", "{cpu}", "1"},    kReused},
    {"HashesIgnoreCase",   kAll, true,  {"{id}", "{MAC}", "{other}", "{CPU}", "1"},     kReused},
    {"OtherProcessor",     kAll, true,  {"{id}", "{mac}", "{disk}", "{other}", "1"},    kDerived},
    {"NewCardAndNewDisk",  kAll, true,  {"{id}", "{other}", "{other}", "{cpu}", "1"},   kDerived},
    {"ShortConfig1",       kAll, true,  {kShortId, "{mac}", "{disk}", "{cpu}", "1"},    kDerived},
    {"LongConfig1",        kAll, true,  {kLongId, "{mac}", "{disk}", "{cpu}", "1"},     kDerived},
    {"NonHexConfig1",      kAll, true,  {kNonHexId, "{mac}", "{disk}", "{cpu}", "1"},   kDerived},
    // A source found now but not recorded: more sources than stored hashes.
    {"NewlyFoundDisk",     kNoBrand, true, {"{id}", "{mac}", "", "", "1"},             kDerived},
    // Profiles with and without the format marker, on a machine with a brand
    // and no disk.
    {"UnmarkedMatchTakesBrand",      kNoDisk, true, {"{id}", "{mac}", "", "{cpu}", nullptr},   kWithBrand},
    {"UnmarkedMismatchTakesBrand",   kNoDisk, true, {"{id}", "{mac}", "", "{other}", nullptr}, kWithBrand},
    {"MarkedMatchKeepsBrandOut",     kNoDisk, true, {"{id}", "{mac}", "", "{cpu}", "1"},       kReused},
    {"MarkedMismatchKeepsBrandOut",  kNoDisk, true, {"{id}", "{mac}", "", "{other}", "1"},     kDerived},
    {"UnmarkedMacAndDiskRecorded",   kNoDisk, true, {"{id}", "{mac}", "{other}", "{cpu}", nullptr}, kReused},
    {"UnmarkedAllSourcesFound",      kAll,    true, {"{id}", "{mac}", "", "{cpu}", nullptr},   kDerived},
};
// clang-format on

class ProfileRulesTest : public ::testing::TestWithParam<ProfileCase> {};

std::string Expand(std::string value, const SourceHashes& hashes) {
  auto upper = [](std::string text) {
    for (char& c : text) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
  };
  const std::pair<const char*, std::string> placeholders[] = {{"{id}", kRecordedId},
                                                              {"{mac}", hashes.mac},
                                                              {"{disk}", hashes.disk},
                                                              {"{cpu}", hashes.cpu},
                                                              {"{MAC}", upper(hashes.mac)},
                                                              {"{CPU}", upper(hashes.cpu)},
                                                              {"{other}", HexOf("another part")}};
  for (const auto& [name, text] : placeholders) {
    if (value == name) return text;
  }
  return value;
}

TEST_P(ProfileRulesTest, IdAndProfileFile) {
  const ProfileCase& c = GetParam();
  bool disk = c.machine != Machine::kBrandOnly;
  bool brand = c.machine != Machine::kDiskOnly;
  FakeSources sources(kMac, disk ? std::optional(kDisk) : std::nullopt, brand ? kBrand : "");
  SourceHashes hashes{HexOf(kMacText), disk ? HexOf(kDiskText) : "", brand ? HexOf(kBrand) : ""};

  ScratchFolder appData;
  std::wstring profilePath = AnsiToWide(ProfilePath(appData));
  std::string recorded;
  if (c.profileExists) {
    recorded = "[Profile]\r\n";
    for (int key = 0; key < 5; ++key) {
      if (!c.config[key]) continue;
      recorded += "config" + std::to_string(key + 1) + "=" + Expand(c.config[key], hashes) + "\r\n";
    }
    ASSERT_TRUE(::CreateDirectoryW((appData.Path() + L"Vorlenk").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((appData.Path() + L"Vorlenk\\Plaxupdate").c_str(), nullptr));
    WriteFileBytes(profilePath, recorded);
  }

  std::string id = IdText(CSeqIDGenerator::GenerateMachineId(sources, WideToAnsi(appData.Path())));

  if (c.outcome == Outcome::kReused) {
    EXPECT_EQ(id, kRecordedId);
    EXPECT_EQ(ReadFileBytes(profilePath), recorded);
  } else {
    std::string sourceText = std::string(kMacText) + (disk ? kDiskText : "");
    if (c.outcome == Outcome::kDerivedWithBrand) sourceText += kBrand;
    EXPECT_EQ(id, HexOf(sourceText));
    EXPECT_EQ(ReadFileBytes(profilePath),
              ProfileLayout(HexOf(sourceText), hashes.mac, hashes.disk, hashes.cpu));
  }

  // Whatever the first run wrote, the next one keeps.
  std::string written = ReadFileBytes(profilePath);
  EXPECT_EQ(IdText(CSeqIDGenerator::GenerateMachineId(sources, WideToAnsi(appData.Path()))), id);
  EXPECT_EQ(ReadFileBytes(profilePath), written);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileRulesTest, ::testing::ValuesIn(kProfileCases),
                         [](const ::testing::TestParamInfo<ProfileCase>& info) {
                           return info.param.name;
                         });

TEST(MachineIdTest, UnopenableProfileGivesDerivedIdAndRecordsNothing) {
  ScratchFolder appData;
  // A file where the first folder belongs: the second folder cannot be made.
  WriteFileBytes(appData.File(L"Vorlenk"), "occupied");
  FakeSources sources(kMac, kDisk, kBrand);
  std::string appDataPath = WideToAnsi(appData.Path());

  EXPECT_EQ(IdText(CSeqIDGenerator::GenerateMachineId(sources, appDataPath)),
            HexOf(std::string(kMacText) + kDiskText));
  EXPECT_EQ(ReadFileBytes(appData.File(L"Vorlenk")), "occupied");
}

TEST(MachineIdTest, MachineWithoutAdapterGetsFixedAddressAndStableId) {
  class NoAdapters : public CMacFetcher {
   public:
    std::optional<MacAddress> FromAdapterList() const override { return std::nullopt; }
    std::optional<MacAddress> FromNetBios() const override { return std::nullopt; }
  };
  MacAddress mac = NoAdapters().GetMacAddress();
  ASSERT_EQ(MacText(mac), "1a2b3c4d5e6f");

  ScratchFolder appData;
  FakeSources sources(mac, std::nullopt, "");
  std::string appDataPath = WideToAnsi(appData.Path());
  std::string first = IdText(CSeqIDGenerator::GenerateMachineId(sources, appDataPath));
  EXPECT_EQ(first, HexOf("1a2b3c4d5e6f"));
  EXPECT_EQ(IdText(CSeqIDGenerator::GenerateMachineId(sources, appDataPath)), first);
  EXPECT_EQ(ReadFileBytes(AnsiToWide(ProfilePath(appData))),
            ProfileLayout(first, HexOf("1a2b3c4d5e6f"), "", ""));
}

// ---------------------------------------------------------------------------
// The id block: one derivation, waiting, and the bounded wait.

class IdBlockTest : public ::testing::Test {
 protected:
  // Bytes chosen so that formatting must zero-pad and use lowercase.
  static constexpr MachineId kId{0x00, 0x0a, 0xff, 0x10, 0x01, 0x02, 0x03, 0x04,
                                 0x05, 0x06, 0x07, 0x08, 0x09, 0xab, 0xcd, 0xef};
  static constexpr char kIdText[] = "000aff10010203040506070809abcdef";

  std::function<MachineId()> CountingDerive() {
    return [this] {
      ++derivations_;
      return kId;
    };
  }

  IdBlock block_{};
  std::atomic<int> derivations_{0};
};

TEST_F(IdBlockTest, FirstCallerDerivesAndLaterCallersReuse) {
  EXPECT_EQ(GetMachineGuid(block_, CountingDerive()), kIdText);
  EXPECT_EQ(GetMachineGuid(block_, CountingDerive()), kIdText);
  EXPECT_EQ(derivations_, 1);
  EXPECT_EQ(block_.state, kIdReady);
}

TEST_F(IdBlockTest, WaiterTakesTheIdThatTheDeriverPublishes) {
  block_.state = kIdDeriving;
  std::thread deriver([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::copy(kId.begin(), kId.end(), block_.id);
    ::InterlockedExchange(&block_.state, kIdReady);
  });
  std::string guid = GetMachineGuid(block_, CountingDerive());
  deriver.join();
  EXPECT_EQ(guid, kIdText);
  EXPECT_EQ(derivations_, 0);
}

TEST_F(IdBlockTest, WaiterForADeadDeriverGivesUpAndPublishesItsOwnId) {
  block_.state = kIdDeriving;  // never finished
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetMachineGuid(block_, CountingDerive(), 300), kIdText);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
  EXPECT_EQ(derivations_, 1);
  EXPECT_EQ(block_.state, kIdReady);

  // Those who come later no longer wait.
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(GetMachineGuid(block_, CountingDerive(), 300), kIdText);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_EQ(derivations_, 1);
}

// ---------------------------------------------------------------------------
// Real processes of one executable, and the real sources under Wine.

std::wstring ChildPath() { return OwnExecutableFolder() + L"mac_id_child.exe"; }

// Starts one copy of the child per argument line, lets them all pass their
// start barrier at once, and returns what each printed.
std::vector<ChildResult> RunTogether(const std::vector<std::wstring>& argumentLines) {
  static std::atomic<int> round{0};
  std::wstring suffix = std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(round++);
  std::wstring readyName = L"Local\\WexMacIdReady_" + suffix;
  std::wstring goName = L"Local\\WexMacIdGo_" + suffix;
  LONG count = static_cast<LONG>(argumentLines.size());
  ScopedHandle ready(::CreateSemaphoreW(nullptr, 0, count, readyName.c_str()));
  ScopedHandle go(::CreateEventW(nullptr, TRUE, FALSE, goName.c_str()));
  std::vector<ChildResult> results(argumentLines.size());
  if (!ready || !go) return results;

  std::vector<std::thread> runners;
  for (size_t i = 0; i < argumentLines.size(); ++i) {
    std::wstring arguments = argumentLines[i];
    size_t at = arguments.find(L"{barrier}");
    arguments.replace(at, 9, readyName + L" " + goName);
    runners.emplace_back(
        [&results, i, arguments] { results[i] = RunChild(ChildPath(), arguments); });
  }
  bool allReady = true;
  for (LONG i = 0; i < count; ++i) {
    allReady = allReady && ::WaitForSingleObject(ready.Get(), 60000) == WAIT_OBJECT_0;
  }
  EXPECT_TRUE(allReady) << "a child did not reach its start barrier";
  ::SetEvent(go.Get());
  for (std::thread& runner : runners) runner.join();
  return results;
}

std::vector<std::string> Lines(const std::string& output) {
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

TEST(MachineIdProcessTest, TwoProcessesStartingTogetherDeriveOnce) {
  ScratchFolder scratch;
  std::wstring counter = scratch.File(L"derivations.txt");
  // No trailing backslash: before the closing quote it would escape it.
  std::wstring appData = scratch.Path().substr(0, scratch.Path().size() - 1);
  std::wstring arguments = L"race {barrier} \"" + appData + L"\" \"" + counter + L"\"";

  std::vector<ChildResult> results = RunTogether({arguments, arguments});

  ASSERT_EQ(results[0].exitCode, 0) << results[0].output;
  ASSERT_EQ(results[1].exitCode, 0) << results[1].output;
  std::string expected = HexOf("02004c4f4f50");
  EXPECT_EQ(Lines(results[0].output), std::vector<std::string>{expected});
  EXPECT_EQ(Lines(results[1].output), std::vector<std::string>{expected});
  EXPECT_EQ(ReadFileBytes(counter), "derived\n");
}

TEST(MachineIdProcessTest, RealSourcesGiveOneIdAcrossCallsProcessesAndExecutables) {
  std::vector<ChildResult> results = RunTogether({L"guid {barrier}", L"guid {barrier}"});
  ASSERT_EQ(results[0].exitCode, 0) << results[0].output;
  ASSERT_EQ(results[1].exitCode, 0) << results[1].output;
  std::vector<std::string> first = Lines(results[0].output);
  ASSERT_EQ(first.size(), 2u) << results[0].output;
  EXPECT_TRUE(IsLowerHex(first[0], 32)) << first[0];
  EXPECT_EQ(first[1], first[0]);
  EXPECT_EQ(Lines(results[1].output), first);

  // This test program is another executable with its own block: it finds
  // the id through the profile in the real roaming folder.
  EXPECT_EQ(GetMachineGuid(), first[0]);
  char appData[MAX_PATH] = {};
  ASSERT_EQ(::SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData), S_OK);
  std::string profile =
      ReadFileBytes(AnsiToWide(std::string(appData) + "\\Vorlenk\\Plaxupdate\\OmnilMgr.db"));
  EXPECT_EQ(profile.rfind("[Profile]\r\nconfig1=" + first[0] + "\r\nconfig2=", 0), 0u) << profile;
  EXPECT_NE(profile.find("\r\nconfig5=1\r\n"), std::string::npos) << profile;
}

TEST(MachineIdProcessTest, RealSourcesUnderWine) {
  ChildResult result = RunChild(ChildPath(), L"sources");
  ASSERT_EQ(result.exitCode, 0) << result.output;
  std::vector<std::string> lines = Lines(result.output);
  ASSERT_EQ(lines.size(), 3u) << result.output;
  ASSERT_EQ(lines[0].rfind("mac=", 0), 0u);
  std::string macText = lines[0].substr(4);
  EXPECT_TRUE(IsLowerHex(macText, 12)) << macText;
  EXPECT_EQ(lines[1].rfind("disk=", 0), 0u);
  ASSERT_EQ(lines[2].rfind("cpu=", 0), 0u);
  EXPECT_LE(lines[2].size() - 4, 48u);
}

}  // namespace
}  // namespace KrellMacID
