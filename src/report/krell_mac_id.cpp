#include "report/krell_mac_id.h"

#include <cstring>

#include "base/md5.h"

namespace KrellMacID {

namespace {

// Shared by every process of this executable file: the section carries the
// shared flag (GCC's `shared` attribute), so the loader maps one copy for all.
IdBlock gSharedIdBlock __attribute__((section(".wexmid"), shared)) = {};

void Publish(IdBlock& block, const MachineId& id) {
  std::memcpy(block.id, id.data(), id.size());
  ::InterlockedExchange(&block.state, kIdReady);
}

}  // namespace

IdBlock& SharedIdBlock() { return gSharedIdBlock; }

std::string GetMachineGuid() {
  return GetMachineGuid(SharedIdBlock(), [] {
    MachineSources sources;
    return CSeqIDGenerator::GenerateMachineId(sources);
  });
}

std::string GetMachineGuid(IdBlock& block, const std::function<MachineId()>& derive,
                           DWORD waitLimitMs) {
  MachineId id{};
  if (::InterlockedCompareExchange(&block.state, kIdDeriving, kIdNotDerived) == kIdNotDerived) {
    id = derive();
    Publish(block, id);
    return IdText(id);
  }
  DWORD start = ::GetTickCount();
  // Reading through a no-op exchange keeps the copy below ordered after the
  // deriver's write of the id.
  while (::InterlockedCompareExchange(&block.state, kIdDeriving, kIdDeriving) == kIdDeriving) {
    if (::GetTickCount() - start >= waitLimitMs) {
      id = derive();
      Publish(block, id);
      return IdText(id);
    }
    if (!::SwitchToThread()) ::Sleep(1);
  }
  std::memcpy(id.data(), block.id, id.size());
  return IdText(id);
}

MachineId CSeqIDGenerator::GenerateMachineId(const MachineSources& sources,
                                             const std::string& appDataFolder) {
  MacAddress mac = sources.GetMacAddress();
  std::optional<DiskIdentity> disk = sources.GetDiskIdentity();
  std::string brand = sources.GetCpuBrand();

  std::string macText = MacText(mac);
  std::string diskText =
      disk ? disk->serialNumber + disk->model + disk->firmwareRevision : std::string();
  SourceHashes hashes;
  hashes.mac = Md5::HexOf(macText.data(), macText.size());
  if (disk) hashes.disk = Md5::HexOf(diskText.data(), diskText.size());
  if (!brand.empty()) hashes.cpu = Md5::HexOf(brand.data(), brand.size());

  ProfileFile profile = ProfileFile::Open(appDataFolder);
  bool appendBrand = false;
  if (profile.IsOpen() && profile.Existed()) {
    ProfileVerdict verdict = CheckProfile(profile.Path(), hashes);
    if (verdict.reuse) return verdict.id;
    appendBrand = verdict.appendBrand;
  }

  std::string sourceText = macText + diskText;
  if (appendBrand) sourceText += brand;
  Md5 md5;
  md5.Update(sourceText.data(), sourceText.size());
  MachineId id = md5.Final();
  if (profile.IsOpen()) WriteProfile(profile, id, hashes);
  return id;
}

}  // namespace KrellMacID
