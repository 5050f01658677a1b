// The component catalogue: the general records and the records of the one
// channel definition that matches this build's supply id.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include <pugixml.hpp>

#include "component/component_item.h"

class ComponentCatalogue {
 public:
  explicit ComponentCatalogue(uint32_t supplyid) : supplyid_(supplyid) {}

  // Reads the catalogue file into the maps (which are not cleared first).
  // Returns false, with *resultCode set (1 empty path, 3 unreadable or not
  // well-formed XML) and an Error line, when nothing could be read. A
  // required number that is missing, has no digits or exceeds 64 bits throws
  // std::invalid_argument ("invalid stoull argument") or std::out_of_range
  // ("stoull argument out of range"); records read before it stay.
  bool ParseComponentXml(const std::wstring& path, int* resultCode);

  // Channel matching over the children of one "OtherConfig" element; the last
  // matching "ChannelComponents" element replaces channelItems.
  void ParseChannelComponent(const pugi::xml_node& otherConfig);

  const ComponentMap& CatalogueItems() const { return catalogueItems_; }
  const ComponentMap& ChannelItems() const { return channelItems_; }
  ComponentMap& MutableCatalogueItems() { return catalogueItems_; }

 private:
  uint32_t supplyid_;
  ComponentMap catalogueItems_;
  ComponentMap channelItems_;
};

// Reads one "Item" element into (id, record). Throws as ParseComponentXml.
std::pair<int32_t, ComponentItem> ReadComponentItem(const pugi::xml_node& item);

// Packs "a.b.c.d" into 16-bit parts, most significant first (parts carry
// into the next field rather than being masked). False, with *number 0, for
// an empty text or fewer than three dots.
bool ParseVersionNumber(const std::wstring& text, uint64_t* number);

// The catalogue's number reading: like std::wcstoull in base 10 (leading
// blanks, optional sign, digits, anything after ignored), but throwing
// std::invalid_argument("invalid stoull argument") without digits and
// std::out_of_range("stoull argument out of range") beyond 64 bits.
uint64_t ReadCatalogueNumber(const std::wstring& text);
