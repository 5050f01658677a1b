#include "component/component_catalogue.h"

#include <windows.h>

#include <cerrno>
#include <cwchar>
#include <cwctype>
#include <regex>
#include <stdexcept>

#include "base/logger.h"

namespace {

bool NameIs(const pugi::char_t* name, const wchar_t* expected) {
  return ::CompareStringOrdinal(name, -1, expected, -1, TRUE) == CSTR_EQUAL;
}

// The last occurrence of an attribute counts.
std::wstring Attribute(const pugi::xml_node& node, const wchar_t* name) {
  std::wstring value;
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    if (std::wcscmp(a.name(), name) == 0) value = a.value();
  }
  return value;
}

bool Flag(const pugi::xml_node& node, const wchar_t* name) {
  return Attribute(node, name) == L"1";
}

void ReadItemsInto(const pugi::xml_node& parent, ComponentMap& items) {
  for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element || !NameIs(child.name(), L"Item")) continue;
    items.insert(ReadComponentItem(child));
  }
}

}  // namespace

uint64_t ReadCatalogueNumber(const std::wstring& text) {
  const wchar_t* begin = text.c_str();
  wchar_t* end = nullptr;
  errno = 0;
  unsigned long long value = std::wcstoull(begin, &end, 10);
  if (end == begin) throw std::invalid_argument("invalid stoull argument");
  if (errno == ERANGE) throw std::out_of_range("stoull argument out of range");
  return value;
}

bool ParseVersionNumber(const std::wstring& text, uint64_t* number) {
  *number = 0;
  if (text.empty()) return false;
  uint32_t part = 0;
  uint64_t total = 0;
  int shift = 48;
  int dots = 0;
  for (wchar_t c : text) {
    if (c >= L'0' && c <= L'9') {
      part = part * 10 + static_cast<uint32_t>(c - L'0');
    } else if (c == L'.') {
      if (shift >= 0) total += static_cast<uint64_t>(part) << shift;
      part = 0;
      shift -= 16;
      ++dots;
    }
  }
  if (dots < 3) return false;
  *number = total + part;
  return true;
}

std::pair<int32_t, ComponentItem> ReadComponentItem(const pugi::xml_node& item) {
  ComponentItem record;
  int32_t key = static_cast<int32_t>(static_cast<uint32_t>(ReadCatalogueNumber(Attribute(item, L"id"))));
  record.id = static_cast<int32_t>(static_cast<uint32_t>(ReadCatalogueNumber(Attribute(item, L"id"))));
  record.name = Attribute(item, L"name");
  record.localAddPath = Attribute(item, L"localaddpath");
  record.installInX86 = Flag(item, L"installInX86");
  record.installInX64 = Flag(item, L"installInX64");
  record.writePathToRegKey = Attribute(item, L"writePathToRegKey");
  record.dlId = ReadCatalogueNumber(Attribute(item, L"DL_ID"));
  record.hash = Attribute(item, L"hash");
  record.fileSize = ReadCatalogueNumber(Attribute(item, L"filesize"));
  record.url = Attribute(item, L"url");
  record.versionText = Attribute(item, L"version");
  ParseVersionNumber(record.versionText, &record.versionNumber);
  return {key, std::move(record)};
}

bool ComponentCatalogue::ParseComponentXml(const std::wstring& path, int* resultCode) {
  if (path.empty()) {
    LOG_ERROR_AS("Component", "CMainWnd::ParseComponentXml") << "xml path is null!";
    *resultCode = 1;
    return false;
  }
  pugi::xml_document document;
  pugi::xml_parse_result parsed = document.load_file(path.c_str());
  if (!parsed) {
    LOG_ERROR_AS("Component", "CMainWnd::ParseComponentXml") << "load component xml failed.";
    *resultCode = 3;
    return false;
  }
  pugi::xml_node root = document.document_element();
  for (pugi::xml_node child = root.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    if (NameIs(child.name(), L"Item")) {
      catalogueItems_.insert(ReadComponentItem(child));
    } else if (NameIs(child.name(), L"other")) {
      pugi::xml_node otherConfig = child.child(L"OtherConfig");
      if (otherConfig) ParseChannelComponent(otherConfig);
    }
  }
  return true;
}

void ComponentCatalogue::ParseChannelComponent(const pugi::xml_node& otherConfig) {
  static const std::wregex kRange(L"([0-9]+)-([0-9]+)");
  static const std::wregex kSingle(L"([0-9]+)");
  const uint64_t supply = supplyid_;
  for (pugi::xml_node element = otherConfig.first_child(); element;
       element = element.next_sibling()) {
    if (element.type() != pugi::node_element || !NameIs(element.name(), L"ChannelComponents")) {
      continue;
    }
    auto select = [&] {
      ComponentMap fresh;
      ReadItemsInto(element, fresh);
      unsigned children = 0;
      for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) ++children;
      }
      LOG_INFO_AS("Component", "CMainWnd::ParseChannelComponent")
          << "get channel: " << supplyid_ << " " << children << " components.";
      channelItems_ = std::move(fresh);
    };
    std::wstring range = Attribute(element, L"ChannelRange");
    for (std::wsregex_iterator m(range.begin(), range.end(), kRange), end; m != end; ++m) {
      uint64_t low = ReadCatalogueNumber((*m)[1].str());
      uint64_t high = ReadCatalogueNumber((*m)[2].str());
      if (low <= supply && supply <= high) select();
    }
    std::wstring singles = std::regex_replace(range, kRange, L"");
    for (std::wsregex_iterator m(singles.begin(), singles.end(), kSingle), end; m != end; ++m) {
      if (ReadCatalogueNumber((*m)[1].str()) == supply) select();
    }
  }
}
