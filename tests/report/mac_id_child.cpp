// A child process for the machine-id tests; several copies of this one
// executable share its id block. Usage:
//   mac_id_child guid READY GO        prints GetMachineGuid() twice
//   mac_id_child race READY GO APPDATA COUNTER
//                                     prints the id of fixed sources whose
//                                     derivation appends a line to COUNTER
//   mac_id_child sources              prints what the system sources find
// READY names a semaphore the child releases once started and GO an event it
// then waits for, so that the test can start copies together.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "base/scoped_handle.h"
#include "base/text_convert.h"
#include "report/krell_mac_id.h"

namespace {

using namespace KrellMacID;

constexpr DWORD kBarrierWaitMs = 60000;

bool Rendezvous(const wchar_t* readyName, const wchar_t* goName) {
  ScopedHandle ready(::OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, readyName));
  ScopedHandle go(::OpenEventW(SYNCHRONIZE, FALSE, goName));
  if (!ready || !go) return false;
  ::ReleaseSemaphore(ready.Get(), 1, nullptr);
  return ::WaitForSingleObject(go.Get(), kBarrierWaitMs) == WAIT_OBJECT_0;
}

// Slow fixed sources that leave a line in a file each time the id is derived.
class CountingSources : public MachineSources {
 public:
  explicit CountingSources(std::wstring counterPath) : counterPath_(std::move(counterPath)) {}
  MacAddress GetMacAddress() const override {
    ScopedHandle counter(::CreateFileW(counterPath_.c_str(), FILE_APPEND_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ::WriteFile(counter.Get(), "derived\n", 8, &written, nullptr);
    // Long enough for the other copy to find the block being derived.
    ::Sleep(300);
    return MacAddress{0x02, 0x00, 0x4c, 0x4f, 0x4f, 0x50};
  }
  std::optional<DiskIdentity> GetDiskIdentity() const override { return std::nullopt; }
  std::string GetCpuBrand() const override { return {}; }

 private:
  std::wstring counterPath_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"guid" && argc == 4) {
    if (!Rendezvous(argv[2], argv[3])) return 3;
    std::string first = GetMachineGuid();
    std::string second = GetMachineGuid();
    std::printf("%s\n%s\n", first.c_str(), second.c_str());
    return 0;
  }
  if (mode == L"race" && argc == 6) {
    if (!Rendezvous(argv[2], argv[3])) return 3;
    std::string appData = WideToAnsi(argv[4]);
    CountingSources sources(argv[5]);
    std::string guid = GetMachineGuid(
        SharedIdBlock(), [&] { return CSeqIDGenerator::GenerateMachineId(sources, appData); });
    std::printf("%s\n", guid.c_str());
    return 0;
  }
  if (mode == L"sources") {
    MachineSources sources;
    std::optional<DiskIdentity> disk = sources.GetDiskIdentity();
    std::printf("mac=%s\n", MacText(sources.GetMacAddress()).c_str());
    if (disk) {
      std::printf("disk=%s|%s|%s\n", disk->serialNumber.c_str(), disk->model.c_str(),
                  disk->firmwareRevision.c_str());
    } else {
      std::printf("disk=none\n");
    }
    std::printf("cpu=%s\n", sources.GetCpuBrand().c_str());
    return 0;
  }
  return 2;
}
