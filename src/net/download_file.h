// Streams one URL into a local file, with percentage progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct DownloadResult {
  bool ok = false;
  int errorType = 0;  // 0, or the failed step as a run result code (4..13, 18)
  int errorCode = 0;  // the system error code read right after the failed step
  explicit operator bool() const { return ok; }
};

// Receives the percentage received so far and a second value, always 0.
using DownloadProgress = std::function<void(int percent, int unused)>;

// One attempt, blocking. An empty userAgent means "WexDownloader/1.0". When
// `cancel` becomes true the download stops before its next chunk and returns
// ok false with errorType kDownloadCancelled; the partial file stays.
//
// The expected length is the Content-Length of a HEAD answer, else that of
// the GET answer; it is the base of the percentages. With an expected length
// the download succeeds once that many bytes were written, and fails with
// errorType 11 and errorCode ERROR_HANDLE_EOF when the server has no more data
// before that. Without one it reads until the server has no more data.
// HTTPS certificates are checked by the platform and never relaxed: a
// rejected certificate fails the GET send (errorType 8).
DownloadResult DownloadFile(const std::wstring& url, const std::wstring& localPath,
                            const DownloadProgress& progress, const std::wstring& userAgent,
                            const std::atomic<bool>* cancel = nullptr);

// errorType of a cancelled download; never a run's result code. Its errorCode
// is ERROR_CANCELLED.
constexpr int kDownloadCancelled = -1;

// The parts of a download URL. The URL must match, as a whole, the
// case-sensitive pattern "^((http|https|ftp)://)(.+?)(/.*)": the host is
// everything between "://" and the first "/", the path keeps its query. A
// port written after the host ("host:8080", "[::1]:8080") is split off;
// otherwise it is 443 for https and 80 for http and ftp (fetched as http).
struct DownloadUrl {
  bool secure = false;
  std::wstring host;  // without the port; an IPv6 address keeps its brackets
  uint16_t port = 0;
  std::wstring path;  // begins with "/"
};
// Empty when the URL does not match or its port is not a number in 1..65535
// (an empty port after the colon means the default one).
std::optional<DownloadUrl> SplitDownloadUrl(const std::wstring& url);

// A Content-Length header value as a 64-bit count: decimal digits only,
// surrounding blanks allowed. Empty for anything else, including a value
// beyond 64 bits.
std::optional<uint64_t> ParseContentLength(const std::wstring& text);
