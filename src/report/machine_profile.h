// The profile file that lets the machine id survive the exchange of a network
// card or a disk: "<roaming application data>\Vorlenk\Plaxupdate\OmnilMgr.db",
// an ANSI INI file holding the id and MD5 hashes of the hardware sources, all
// as plain lowercase hexadecimal text.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

#include "base/scoped_handle.h"

namespace KrellMacID {

using MachineId = std::array<uint8_t, 16>;

// 32 lowercase hexadecimal digits, two per byte.
std::string IdText(const MachineId& id);

// MD5 hashes (32 lowercase hexadecimal digits) of the source texts; empty
// when the source is missing. The MAC address is never missing.
struct SourceHashes {
  std::string mac;
  std::string disk;
  std::string cpu;
};

// The profile file, open for reading and writing (sharing both) while this
// object lives.
class ProfileFile {
 public:
  // Creates the folders and opens the file, creating it empty when missing.
  // `appDataFolder` stands for the roaming application-data folder; empty
  // asks the platform (created if missing). Not open on any failure, which
  // only means that the id will not be recorded.
  static ProfileFile Open(const std::string& appDataFolder = {});

  bool IsOpen() const { return file_.IsValid(); }
  // True when the file was there before Open.
  bool Existed() const { return existed_; }
  // Full ANSI path, at most 260 characters.
  const std::string& Path() const { return path_; }
  HANDLE Handle() const { return file_.Get(); }

 private:
  ScopedHandle file_;
  std::string path_;
  bool existed_ = false;
};

// What an existing profile says about this run's sources.
struct ProfileVerdict {
  // The recorded id, in `id`, stands.
  bool reuse = false;
  // Not reused, and the processor brand must join the source text: a profile
  // from before the format marker whose hardware the brand tells apart.
  bool appendBrand = false;
  MachineId id{};
};

// Reads the profile at `path` with the platform's INI reader and decides
// whether its id stands for `hashes`. A "config1" that is not 32 hexadecimal
// digits is never reused.
ProfileVerdict CheckProfile(const std::string& path, const SourceHashes& hashes);

// Replaces the file's content with the "[Profile]" section for `id` and
// `hashes`, every line ended by CR LF. When the open file cannot be cut to
// nothing, the file is created anew by its path and written there. A failed
// write may leave the file empty: the next run then derives the id again.
void WriteProfile(const ProfileFile& file, const MachineId& id, const SourceHashes& hashes);

}  // namespace KrellMacID
