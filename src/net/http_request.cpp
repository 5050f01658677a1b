#include "net/http_request.h"

#include <winhttp.h>

#include <cstring>
#include <new>
#include <regex>
#include <utility>

#include "base/text_convert.h"

namespace {

constexpr size_t kInitialBodyCapacity = 10240;
constexpr int kAttempts = 3;
// Unknown authority, wrong host name and invalid dates; nothing else.
constexpr DWORD kRelaxedCertificateChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                                            SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                            SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
static_assert(kRelaxedCertificateChecks == 0x3100);

// Releases the strings that WinHTTP hands out with GlobalAlloc, keeping the
// thread's last error.
class GlobalStrings {
 public:
  GlobalStrings(wchar_t* a, wchar_t* b, wchar_t* c = nullptr) : strings_{a, b, c} {}
  ~GlobalStrings() {
    DWORD error = ::GetLastError();
    for (wchar_t* s : strings_) {
      if (s) ::GlobalFree(s);
    }
    ::SetLastError(error);
  }
  GlobalStrings(const GlobalStrings&) = delete;
  GlobalStrings& operator=(const GlobalStrings&) = delete;

 private:
  wchar_t* strings_[3];
};

bool IsSet(const wchar_t* text) { return text != nullptr && *text != L'\0'; }

// The whole value of a header query (raw headers, status code); empty when
// the query fails.
std::wstring QueryHeaderText(HINTERNET request, DWORD what) {
  DWORD bytes = 0;
  if (!::WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                             &bytes, WINHTTP_NO_HEADER_INDEX) &&
      ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return {};
  }
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (!::WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  text.resize(bytes / sizeof(wchar_t));
  return text;
}

// `count` bytes including the terminating zero; false when nothing converts.
bool ConvertBytes(UINT codePage, DWORD flags, const char* bytes, size_t count, std::wstring& text) {
  int n = ::MultiByteToWideChar(codePage, flags, bytes, static_cast<int>(count), nullptr, 0);
  if (n <= 0) return false;
  std::wstring converted(static_cast<size_t>(n), L'\0');
  n = ::MultiByteToWideChar(codePage, flags, bytes, static_cast<int>(count), converted.data(), n);
  if (n <= 0) return false;
  text = converted.c_str();  // ends at the first zero byte of the body
  return true;
}

// An HTML page that opened but never closed was cut off in transit.
bool LooksTruncated(const std::wstring& text) {
  static const std::wregex kOpeningTag(L"(<html>)", std::regex::ECMAScript | std::regex::icase);
  static const std::wregex kClosingTag(L"(</html>)", std::regex::ECMAScript | std::regex::icase);
  return std::regex_search(text, kOpeningTag) && !std::regex_search(text, kClosingTag);
}

HttpResult SendAndCollect(CHttpRequest& request, const wchar_t* method) {
  HttpResult result;
  result.ok = request.Send(method);
  if (result.ok) {
    result.statusCode = HttpStatusCodeFromText(request.StatusText());
    result.body = WideToUtf8(request.BodyText());
  }
  return result;
}

}  // namespace

// The parts of the URL that a connection and a request need.
struct CHttpRequest::Target {
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring path;  // with the query, without a fragment
  bool secure = false;
};

// Handles of one way to the server; the request closes before its connection.
struct CHttpRequest::Route {
  ScopedInternetHandle connect;
  ScopedInternetHandle request;
};

CHttpRequest::CHttpRequest(std::wstring url) : url_(std::move(url)) {}

CHttpRequest::~CHttpRequest() = default;

void CHttpRequest::ApplyTimeouts(HINTERNET session) const {
  ::WinHttpSetTimeouts(session, resolveTimeout_, connectTimeout_, sendTimeout_, receiveTimeout_);
}

bool CHttpRequest::OpenRoute(HINTERNET session, const Target& target, const std::wstring& method,
                             Route& route) const {
  route.connect.Reset(::WinHttpConnect(session, target.host.c_str(), target.port, 0));
  if (!route.connect) return false;
  route.request.Reset(::WinHttpOpenRequest(route.connect.Get(), method.c_str(), target.path.c_str(),
                                           nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           target.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!route.request) {
    route.connect.Reset();
    return false;
  }
  if (target.secure) {
    DWORD flags = kRelaxedCertificateChecks;
    ::WinHttpSetOption(route.request.Get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  // Request headers stay on the handle for every send made with it, so they
  // are added once: adding them again per attempt would merge the repeats
  // into one line ("Content-Length: 5; 5"). A failure here is not fatal.
  if (!extraHeaders_.empty()) {
    ::WinHttpAddRequestHeaders(route.request.Get(), extraHeaders_.c_str(), static_cast<DWORD>(-1L),
                               WINHTTP_ADDREQ_FLAG_ADD);
  }
  return true;
}

bool CHttpRequest::Send(std::wstring method) {
  if (_wcsicmp(method.c_str(), L"GET") == 0) {
    method = L"GET";
  } else if (_wcsicmp(method.c_str(), L"POST") == 0) {
    method = L"POST";
  } else {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (url_.empty()) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!session_) {
    session_.Reset(::WinHttpOpen(userAgent_.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                 WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session_) return false;
  }
  ApplyTimeouts(session_.Get());

  // Lengths only: the cracker points into url_, so no part has a size limit.
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url_.c_str(), static_cast<DWORD>(url_.size()), 0, &parts)) return false;
  Target target;
  target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  target.port = parts.nPort;
  target.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  std::wstring extra(parts.lpszExtraInfo ? parts.lpszExtraInfo : L"", parts.dwExtraInfoLength);
  target.path += extra.substr(0, extra.find(L'#'));
  target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

  Route route;
  if (!OpenRoute(session_.Get(), target, method, route)) return false;

  bool complete = false;
  bool allocationFailed = false;
  for (int attempt = 1; attempt <= kAttempts && !complete && !allocationFailed; ++attempt) {
    if (!::WinHttpSendRequest(route.request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                              WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
      DWORD sendError = ::GetLastError();
      if (!SendThroughUserProxy(target, method, route)) {
        ::SetLastError(sendError);
        continue;
      }
    }
    if (!requestBody_.empty()) {
      DWORD written = 0;
      ::WinHttpWriteData(route.request.Get(), requestBody_.data(),
                         static_cast<DWORD>(requestBody_.size()), &written);
    }
    if (!::WinHttpReceiveResponse(route.request.Get(), nullptr)) continue;
    ReadResponseHeaders(route.request.Get());
    if (!ReadBody(route.request.Get())) {
      allocationFailed = true;
      break;
    }
    DecodeBody();
    complete = method == L"POST" || !LooksTruncated(bodyText_);
  }
  return complete && !allocationFailed;
}

bool CHttpRequest::SendThroughUserProxy(const Target& target, const std::wstring& method,
                                        Route& route) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG settings{};
  if (!::WinHttpGetIEProxyConfigForCurrentUser(&settings)) return false;
  GlobalStrings release(settings.lpszAutoConfigUrl, settings.lpszProxy, settings.lpszProxyBypass);

  if (IsSet(settings.lpszAutoConfigUrl)) {
    // DHCP detection first, then the script the settings name: what one call
    // with both flags does on Windows, but Wine refuses that pair of flags
    // (ERROR_INVALID_PARAMETER), so the two are asked for in turn.
    WINHTTP_AUTOPROXY_OPTIONS detect{};
    detect.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    detect.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP;
    detect.fAutoLogonIfChallenged = TRUE;
    WINHTTP_AUTOPROXY_OPTIONS script{};
    script.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    script.lpszAutoConfigUrl = settings.lpszAutoConfigUrl;
    script.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO found{};
    if (!::WinHttpGetProxyForUrl(session_.Get(), url_.c_str(), &detect, &found) &&
        !::WinHttpGetProxyForUrl(session_.Get(), url_.c_str(), &script, &found)) {
      return false;
    }
    GlobalStrings releaseFound(found.lpszProxy, found.lpszProxyBypass);
    if (!UseProxy(found.lpszProxy, found.lpszProxyBypass, target, method, route)) return false;
    return ::WinHttpSendRequest(route.request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                WINHTTP_NO_REQUEST_DATA, 0,
                                static_cast<DWORD>(requestBody_.size()), 0) != FALSE;
  }
  if (IsSet(settings.lpszProxy)) {
    // Not sent again here: the next attempt goes through the proxy.
    UseProxy(settings.lpszProxy, settings.lpszProxyBypass, target, method, route);
  }
  return false;
}

// WinHTTP takes a proxy for certain only where a session is opened (Wine
// ignores WINHTTP_OPTION_PROXY on a request), so a named proxy gets its own
// session and the route is rebuilt on it, extra headers and certificate
// flags included. Names and bypass lists of any length are passed as they are.
// A script's answer without a proxy (DIRECT) keeps the current route.
bool CHttpRequest::UseProxy(const wchar_t* proxy, const wchar_t* bypass, const Target& target,
                            const std::wstring& method, Route& route) {
  if (!IsSet(proxy)) return true;
  ScopedInternetHandle session(::WinHttpOpen(userAgent_.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                                             proxy, IsSet(bypass) ? bypass : WINHTTP_NO_PROXY_BYPASS,
                                             0));
  if (!session) return false;
  ApplyTimeouts(session.Get());
  Route through;
  if (!OpenRoute(session.Get(), target, method, through)) return false;
  route.request = std::move(through.request);
  route.connect = std::move(through.connect);
  proxySession_ = std::move(session);
  return true;
}

void CHttpRequest::ReadResponseHeaders(HINTERNET request) {
  static const std::wregex kCharset(L"charset=([A-Za-z0-9\\-_]+)",
                                    std::regex::ECMAScript | std::regex::icase);
  responseHeaders_ = QueryHeaderText(request, WINHTTP_QUERY_RAW_HEADERS_CRLF);
  std::wsmatch match;
  if (std::regex_search(responseHeaders_, match, kCharset)) charset_ = match[1].str();
  statusText_ = QueryHeaderText(request, WINHTTP_QUERY_STATUS_CODE);
}

bool CHttpRequest::ReadBody(HINTERNET request) {
  bodyBytes_.reset();
  bodyLength_ = 0;
  size_t capacity = kInitialBodyCapacity;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[capacity]());
  if (!buffer) return false;
  size_t length = 0;
  bool allocated = true;
  for (;;) {
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(request, &available) || available == 0) break;
    std::unique_ptr<char[]> chunk(new (std::nothrow) char[available]);
    if (!chunk) {
      allocated = false;
      break;
    }
    DWORD read = 0;
    if (!::WinHttpReadData(request, chunk.get(), available, &read)) continue;
    // Always room for one zero byte after the data: the decoder relies on it.
    if (length + read + 1 > capacity) {
      size_t grown = capacity;
      while (length + read + 1 > grown) grown *= 2;
      std::unique_ptr<char[]> bigger(new (std::nothrow) char[grown]());
      if (!bigger) {
        allocated = false;
        break;
      }
      std::memcpy(bigger.get(), buffer.get(), length);
      buffer = std::move(bigger);
      capacity = grown;
    }
    std::memcpy(buffer.get() + length, chunk.get(), read);
    length += read;
  }
  bodyBytes_ = std::move(buffer);
  bodyLength_ = length;
  return allocated;
}

void CHttpRequest::DecodeBody() {
  bool utf8 = charset_.size() >= 5 && _wcsnicmp(charset_.c_str(), L"utf-8", 5) == 0;
  std::wstring text;
  if (ConvertBytes(utf8 ? CP_UTF8 : CP_ACP, utf8 ? 0 : MB_PRECOMPOSED, bodyBytes_.get(),
                   bodyLength_ + 1, text) ||
      ConvertBytes(CP_ACP, MB_PRECOMPOSED, bodyBytes_.get(), bodyLength_ + 1, text)) {
    bodyText_ = std::move(text);
  }
}

HttpResult HttpGet(const std::string& url, const std::wstring& charset) {
  CHttpRequest request(Utf8ToWide(url));
  request.SetCharset(charset);
  return SendAndCollect(request, L"GET");
}

HttpResult HttpPost(const std::string& url, const std::string& body, const std::string& contentType) {
  CHttpRequest request(Utf8ToWide(url));
  request.SetRequestBody(body);
  request.SetExtraHeaders(L"Content-Length: " + std::to_wstring(body.size()) +
                          L"\r\nContent-Type: " + Utf8ToWide(contentType) + L"\r\n");
  return SendAndCollect(request, L"POST");
}

bool IsHttpResultGood(const HttpResult& result) {
  return result.ok && result.statusCode < 400 && !result.body.empty();
}

int HttpStatusCodeFromText(const std::wstring& text) {
  if (text.empty() || text.size() > 9) return 0;  // nine digits always fit an int
  int value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    value = value * 10 + (c - L'0');
  }
  return value;
}
