// One HTTP or HTTPS request into memory over WinHTTP (synchronous). Callers
// use HttpGet / HttpPost; CHttpRequest is the object behind them, declared
// here so that its behaviour can be exercised directly.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>

#include "base/scoped_handle.h"

// Lives for one call: Send once, read the accessors, destroy. Not copied.
class CHttpRequest {
 public:
  explicit CHttpRequest(std::wstring url);
  ~CHttpRequest();
  CHttpRequest(const CHttpRequest&) = delete;
  CHttpRequest& operator=(const CHttpRequest&) = delete;

  // Decodes the body when the response names no character set; a response
  // that names one replaces it.
  void SetCharset(std::wstring charset) { charset_ = std::move(charset); }
  // Bytes written after the request headers (POST).
  void SetRequestBody(std::string bytes) { requestBody_ = std::move(bytes); }
  // Header lines, each ending in CR LF, carried once by every attempt.
  void SetExtraHeaders(std::wstring headers) { extraHeaders_ = std::move(headers); }

  // Performs the request with "GET" or "POST" (any case); any other method or
  // an empty URL fails at once. Up to three attempts on one request handle;
  // when a send fails, the user's Internet proxy settings are consulted (a
  // configuration script re-sends at once, a named proxy carries the next
  // attempt). A GET answer holding "<html>" without "</html>" counts as
  // truncated and is asked for again. True when an attempt received a
  // complete answer, whatever its status. On false the failing system call's
  // code is the thread's last error.
  bool Send(std::wstring method);

  // The status code as the server's decimal text ("200"); empty before an
  // answer arrived.
  std::wstring StatusText() const { return statusText_; }
  // The body decoded to wide text, cut at its first zero byte.
  std::wstring BodyText() const { return bodyText_; }

 private:
  struct Target;
  struct Route;

  bool OpenRoute(HINTERNET session, const Target& target, const std::wstring& method, Route& route) const;
  bool SendThroughUserProxy(const Target& target, const std::wstring& method, Route& route);
  bool UseProxy(const wchar_t* proxy, const wchar_t* bypass, const Target& target,
                const std::wstring& method, Route& route);
  void ReadResponseHeaders(HINTERNET request);
  // False only when a buffer could not be allocated.
  bool ReadBody(HINTERNET request);
  void DecodeBody();
  void ApplyTimeouts(HINTERNET session) const;

  ScopedInternetHandle session_;
  std::wstring url_;
  std::wstring responseHeaders_;
  std::wstring bodyText_;
  std::wstring charset_;
  std::unique_ptr<char[]> bodyBytes_;
  size_t bodyLength_ = 0;
  std::string requestBody_;
  std::wstring extraHeaders_;
  std::wstring statusText_;
  std::wstring userAgent_ = L"WexDownloader";
  int resolveTimeout_ = 0;
  int connectTimeout_ = 60000;
  int sendTimeout_ = 30000;
  int receiveTimeout_ = 30000;
  // Opened by the proxy fallback for a named proxy; closed with the object.
  ScopedInternetHandle proxySession_;
};

struct HttpResult {
  bool ok = false;     // a complete answer was received
  int statusCode = 0;  // 0 when !ok or when the status text is not a number
  std::string body;    // UTF-8; empty when !ok
  explicit operator bool() const { return ok; }
};

// `url` is UTF-8. `charset` decodes the body when the answer names none
// (the catalogue passes L"utf-8"); empty means the ANSI code page.
HttpResult HttpGet(const std::string& url, const std::wstring& charset);
// `url` and `contentType` are UTF-8; the body is sent as given, with one
// Content-Length and one Content-Type header.
HttpResult HttpPost(const std::string& url, const std::string& body, const std::string& contentType);
// A complete answer below status 400 with a non-empty body.
bool IsHttpResultGood(const HttpResult& result);
// The status text as a decimal int; 0 for empty, non-digit or too large text.
int HttpStatusCodeFromText(const std::wstring& text);
