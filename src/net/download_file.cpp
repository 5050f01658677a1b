#include "net/download_file.h"

#include <windows.h>
#include <winhttp.h>

#include <cstring>
#include <new>
#include <regex>
#include <vector>

#include "base/scoped_handle.h"
#include "component/result_codes.h"

namespace {

constexpr wchar_t kDefaultUserAgent[] = L"WexDownloader/1.0";
constexpr DWORD kSecureRequestFlags = WINHTTP_FLAG_SECURE | WINHTTP_FLAG_REFRESH;
constexpr DWORD kPlainRequestFlags = WINHTTP_FLAG_REFRESH;
static_assert(kSecureRequestFlags == 0x800100 && kPlainRequestFlags == 0x100);
// Bytes the read buffer holds before any chunk asks for more; one byte more
// than the largest chunk it takes, which leaves the data zero-terminated.
constexpr size_t kInitialBufferBytes = 8193;


DownloadResult Failure(int errorType, DWORD errorCode) {
  return DownloadResult{false, errorType, static_cast<int>(errorCode)};
}

bool IsCancelled(const std::atomic<bool>* cancel) { return cancel != nullptr && cancel->load(); }

// The Content-Length of an answer received on `request`; empty when the
// answer has none or it is not a number. Read as text: the 64-bit number
// query is not available everywhere (Wine refuses it), the 32-bit one cannot
// describe files of 4 GiB and more.
std::optional<uint64_t> QueryContentLength(HINTERNET request) {
  wchar_t text[64] = {};
  DWORD bytes = sizeof text;
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &bytes, WINHTTP_NO_HEADER_INDEX)) {
    return std::nullopt;
  }
  return ParseContentLength(std::wstring(text, bytes / sizeof(wchar_t)));
}

}  // namespace

std::optional<uint64_t> ParseContentLength(const std::wstring& text) {
  size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return std::nullopt;
  size_t last = text.find_last_not_of(L" \t");
  uint64_t value = 0;
  for (size_t i = first; i <= last; ++i) {
    wchar_t c = text[i];
    if (c < L'0' || c > L'9') return std::nullopt;
    uint64_t digit = static_cast<uint64_t>(c - L'0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::optional<DownloadUrl> SplitDownloadUrl(const std::wstring& url) {
  static const std::wregex kPattern(L"^((http|https|ftp)://)(.+?)(/.*)", std::regex::ECMAScript);
  std::wsmatch match;
  if (!std::regex_match(url, match, kPattern)) return std::nullopt;

  DownloadUrl parts;
  parts.secure = _wcsicmp(match[2].str().c_str(), L"HTTPS") == 0;
  parts.path = match[4].str();
  std::wstring authority = match[3].str();
  // The port follows the last colon, unless that colon is inside an IPv6
  // address in brackets.
  size_t colon = authority.rfind(L':');
  size_t bracket = authority.rfind(L']');
  std::wstring portText;
  if (colon != std::wstring::npos && (bracket == std::wstring::npos || colon > bracket)) {
    portText = authority.substr(colon + 1);
    authority.resize(colon);
  }
  if (authority.empty()) return std::nullopt;
  parts.host = authority;
  parts.port = parts.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  if (!portText.empty()) {
    std::optional<uint64_t> port = ParseContentLength(portText);
    if (!port || *port == 0 || *port > 65535 || portText.find_first_of(L" \t") != std::wstring::npos) {
      return std::nullopt;
    }
    parts.port = static_cast<uint16_t>(*port);
  }
  return parts;
}

DownloadResult DownloadFile(const std::wstring& url, const std::wstring& localPath,
                            const DownloadProgress& progress, const std::wstring& userAgent,
                            const std::atomic<bool>* cancel) {
  std::optional<DownloadUrl> parts = SplitDownloadUrl(url);
  if (!parts) return Failure(kResultUrlSplit, ::GetLastError());
  const DWORD flags = parts->secure ? kSecureRequestFlags : kPlainRequestFlags;
  if (IsCancelled(cancel)) return Failure(kDownloadCancelled, ERROR_CANCELLED);

  // Declared in the order of opening, so every way out closes them in reverse.
  ScopedInternetHandle session(::WinHttpOpen(userAgent.empty() ? kDefaultUserAgent : userAgent.c_str(),
                                             WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                             WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return Failure(kResultSessionOpen, ::GetLastError());
  ScopedInternetHandle connection(::WinHttpConnect(session.Get(), parts->host.c_str(), parts->port, 0));
  if (!connection) return Failure(kResultConnect, ::GetLastError());

  // The size query may fail in any of its steps; the length is then unknown.
  ScopedInternetHandle head(::WinHttpOpenRequest(connection.Get(), L"HEAD", parts->path.c_str(), nullptr,
                                                 WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  std::optional<uint64_t> headLength;
  if (head && ::WinHttpSendRequest(head.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
      ::WinHttpReceiveResponse(head.Get(), nullptr)) {
    headLength = QueryContentLength(head.Get());
  }

  ScopedInternetHandle get(::WinHttpOpenRequest(connection.Get(), L"GET", parts->path.c_str(), nullptr,
                                                WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  if (!get) return Failure(kResultRequestOpen, ::GetLastError());
  if (!::WinHttpSendRequest(get.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
    return Failure(kResultRequestSend, ::GetLastError());
  }
  if (!::WinHttpReceiveResponse(get.Get(), nullptr)) return Failure(kResultResponseReceive, ::GetLastError());
  // The status code is deliberately not looked at: an error page is written
  // like any body, and the caller's digest check rejects it.
  uint64_t expected = headLength.value_or(0);
  if (expected == 0) expected = QueryContentLength(get.Get()).value_or(0);

  ScopedHandle file(::CreateFileW(localPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return Failure(kResultFileReadWrite, ::GetLastError());

  std::vector<char> buffer;
  try {
    buffer.resize(kInitialBufferBytes);
  } catch (const std::bad_alloc&) {
    return Failure(kResultNoBuffer, ERROR_NOT_ENOUGH_MEMORY);
  }
  uint64_t total = 0;
  for (;;) {
    if (IsCancelled(cancel)) return Failure(kDownloadCancelled, ERROR_CANCELLED);
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(get.Get(), &available)) return Failure(kResultDataAvailable, ::GetLastError());
    if (available == 0) break;
    if (available >= buffer.size()) {
      // One chunk at a time: the buffer grows to the largest chunk seen.
      try {
        buffer.clear();
        buffer.shrink_to_fit();
        buffer.resize(static_cast<size_t>(available) + 1);
      } catch (const std::bad_alloc&) {
        return Failure(kResultNoBuffer, ERROR_NOT_ENOUGH_MEMORY);
      }
    }
    std::memset(buffer.data(), 0, static_cast<size_t>(available) + 1);
    DWORD read = 0;
    if (!::WinHttpReadData(get.Get(), buffer.data(), available, &read)) {
      return Failure(kResultDataRead, ::GetLastError());
    }
    if (read == 0) break;
    total += read;
    DWORD written = 0;
    if (!::WriteFile(file.Get(), buffer.data(), read, &written, nullptr)) {
      return Failure(kResultFileReadWrite, ::GetLastError());
    }
    if (written != read) return Failure(kResultFileReadWrite, ERROR_WRITE_FAULT);
    if (progress && expected != 0) progress(static_cast<int>(total * 100 / expected), 0);
    if (expected != 0 && total >= expected) return DownloadResult{true, 0, 0};
  }
  // The server has no more data.
  if (expected != 0) return Failure(kResultDataAvailable, ERROR_HANDLE_EOF);
  return DownloadResult{true, 0, 0};
}
