// One measured download, for tools/bench/download_bench.sh:
//   download_bench <url> <local path>          through DownloadFile
//   download_bench --bare <url> <local path>   the platform's ceiling: a bare
//       WinHTTP GET read in 1 MiB pieces into the file, nothing else
// Prints "<name> <value>" lines: ok, errorType, errorCode, chunks (pieces the
// platform delivered; DownloadFile counts them only when the length is
// known), bytes (of the local file), seconds (the download alone), MB/s
// (10^6 bytes per second), and the process's memory: privatePeak (the highest
// PrivateUsage seen while the download ran, sampled every 5 ms; 0 where the
// system does not report it), peakPagefileUsage and peakWorkingSet (the
// system's own peaks for the whole process), in bytes.
// Exit code 0 when the download succeeded, 2 on a usage error.
#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/scoped_handle.h"
#include "net/download_file.h"

namespace {

PROCESS_MEMORY_COUNTERS_EX MemoryCounters() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
  return counters;
}

double Now() {
  LARGE_INTEGER frequency, now;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The same session, connection and request as DownloadFile's GET, without
// the size query, the per-chunk availability question or progress.
DownloadResult BareDownload(const std::wstring& url, const std::wstring& localPath, uint64_t& chunks) {
  std::optional<DownloadUrl> parts = SplitDownloadUrl(url);
  if (!parts) return {false, 4, 0};
  ScopedInternetHandle session(::WinHttpOpen(L"WexDownloader/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  ScopedInternetHandle connection(::WinHttpConnect(session.Get(), parts->host.c_str(), parts->port, 0));
  ScopedInternetHandle request(::WinHttpOpenRequest(
      connection.Get(), L"GET", parts->path.c_str(), nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
      WINHTTP_FLAG_REFRESH | (parts->secure ? WINHTTP_FLAG_SECURE : 0)));
  if (!request || !::WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                                        0, 0, 0) ||
      !::WinHttpReceiveResponse(request.Get(), nullptr)) {
    return {false, 8, static_cast<int>(::GetLastError())};
  }
  ScopedHandle file(::CreateFileW(localPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {false, 18, static_cast<int>(::GetLastError())};
  std::vector<char> buffer(1 << 20);
  for (;;) {
    DWORD read = 0, written = 0;
    if (!::WinHttpReadData(request.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read)) {
      return {false, 12, static_cast<int>(::GetLastError())};
    }
    if (read == 0) return {true, 0, 0};
    ++chunks;
    if (!::WriteFile(file.Get(), buffer.data(), read, &written, nullptr)) {
      return {false, 18, static_cast<int>(::GetLastError())};
    }
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool bare = argc == 4 && std::wcscmp(argv[1], L"--bare") == 0;
  if (argc != 3 && !bare) {
    std::fprintf(stderr, "usage: download_bench [--bare] <url> <local path>\n");
    return 2;
  }
  const std::wstring url = argv[argc - 2];
  const std::wstring localPath = argv[argc - 1];

  std::atomic<bool> done{false};
  std::atomic<SIZE_T> privatePeak{MemoryCounters().PrivateUsage};
  std::thread sampler([&] {
    while (!done) {
      SIZE_T now = MemoryCounters().PrivateUsage;
      if (now > privatePeak) privatePeak = now;
      ::Sleep(5);
    }
  });

  uint64_t chunks = 0;
  double start = Now();
  DownloadResult result = bare ? BareDownload(url, localPath, chunks)
                               : DownloadFile(url, localPath, [&](int, int) { ++chunks; }, L"");
  double seconds = Now() - start;
  done = true;
  sampler.join();

  WIN32_FILE_ATTRIBUTE_DATA data{};
  uint64_t bytes = 0;
  if (::GetFileAttributesExW(localPath.c_str(), GetFileExInfoStandard, &data)) {
    bytes = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  PROCESS_MEMORY_COUNTERS_EX after = MemoryCounters();
  std::printf("ok %d\nerrorType %d\nerrorCode %d\n", result.ok ? 1 : 0, result.errorType, result.errorCode);
  std::printf("chunks %llu\nbytes %llu\nseconds %.3f\nMB/s %.1f\n", static_cast<unsigned long long>(chunks),
              static_cast<unsigned long long>(bytes), seconds,
              seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0);
  std::printf("privatePeak %llu\npeakPagefileUsage %llu\npeakWorkingSet %llu\n",
              static_cast<unsigned long long>(privatePeak.load()),
              static_cast<unsigned long long>(after.PeakPagefileUsage),
              static_cast<unsigned long long>(after.PeakWorkingSetSize));
  return result.ok ? 0 : 1;
}
