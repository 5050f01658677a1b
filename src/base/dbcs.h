// Detection of characters that take two bytes in an ANSI code page.
#pragma once

#include <windows.h>

#include <string>

// True when the text, converted to the code page (the system's ANSI code
// page by default), holds a double-byte lead byte. False for empty text.
bool ContainsDbcsLeadByte(const std::wstring& text, UINT codePage = CP_ACP);
