// MD5 digests of files and buffers as 32 lowercase hexadecimal characters.
// Digests are compared without regard to case by their users.
#pragma once

#include <cstddef>
#include <string>

// Reads the file in 64 KiB chunks. Empty text on any failure, after one Error
// line (module "utils") naming the failed step and the last-error value.
std::string GetFileHexMd5(const std::wstring& path);

std::string GetDataHexMd5(const void* data, size_t length);

// True when a and b are the same hexadecimal digest, ignoring case.
bool HexDigestEquals(const std::string& a, const std::string& b);
