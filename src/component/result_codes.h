// Result codes of an installation run. The numbers are stable: they are
// shown to users on the error page, sent in telemetry and used as the
// download step's error types.
#pragma once

#include <string>

enum ResultCode : int {
  kResultSuccess = 0,
  kResultCommon = 1,             // empty catalogue path; unexpected exception
  kResultCatalogueDownload = 2,  // neither catalogue location answered
  kResultCatalogueParse = 3,     // catalogue unreadable, malformed or unsafe
  kResultUrlSplit = 4,           // package download steps 4..13
  kResultSessionOpen = 5,
  kResultConnect = 6,
  kResultRequestOpen = 7,
  kResultRequestSend = 8,
  kResultResponseReceive = 9,
  kResultDataAvailable = 11,
  kResultDataRead = 12,
  kResultNoBuffer = 13,
  kResultPackageRun = 14,        // package did not start or exited with another code
  kResultInvalidPackage = 15,    // no Setup\Kallup.exe after unpacking
  kResultInstallFailed = 16,     // Kallup.exe did not start or failed
  kResultRegAccess = 17,         // a registry key could not be created
  kResultFileReadWrite = 18,     // temporary file, or a download's file writes
  kResultSetupDelete = 19,       // an old Setup folder could not be removed
  kResultMd5Mismatch = 20,       // downloaded package differs from the catalogue
};

// The locale text id shown for a code; "error_common" for unknown codes.
std::wstring ResultCodeTextId(int code);
