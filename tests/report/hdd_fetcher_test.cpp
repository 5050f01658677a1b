#include "report/hdd_fetcher.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace KrellMacID {
namespace {

constexpr size_t kTextOffset = 64;

std::string TextAt(const std::string& stored, bool swapPairs) {
  std::vector<uint8_t> descriptor(256, 0);
  std::memcpy(descriptor.data() + kTextOffset, stored.data(), stored.size());
  return CHddFetcher::DescriptorText(descriptor.data(), descriptor.size(), kTextOffset, swapPairs);
}

TEST(HddFetcherTest, DescriptorTextDecoding) {
  struct Case {
    const char* name;
    std::string stored;
    bool swapPairs;
    const char* expected;
  };
  const Case cases[] = {
      {"printable hex bytes are decoded", "414243", false, "ABC"},
      {"capital digits count", "4A4B", false, "JK"},
      {"white space reads as digit 0", "3 41", false, "0A"},
      {"a lone last digit makes no byte", "41424", false, "AB"},
      {"a zero byte ends the text", "41420043", false, "AB"},
      {"a non-printable byte means raw text", "0102", false, "0102"},
      {"a non-digit means raw text", "WD-WCAV12345", false, "WD-WCAV12345"},
      {"raw text stopped by a non-printable is empty", "XY\x01Z", false, ""},
      {"decoded text is trimmed", "2020414220", false, "AB"},
      {"raw text is trimmed", "  S2R6NX0H  ", false, "S2R6NX0H"},
      {"raw pairs swapped", "DWW-AC1V3254", true, "WD-WCAV12345"},
      {"decoded pairs swapped, then trimmed", "20204457572d3158", true, "WD-WX1"},
      {"odd raw text loses its last character", "ABCDE", true, "BADC"},
      {"odd decoded text loses its last character", "4142434445", true, "BADC"},
      {"nothing there", "", false, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(TextAt(c.stored, c.swapPairs), c.expected) << c.name;
}

TEST(HddFetcherTest, DescriptorTextOffsetsAndBounds) {
  const uint8_t descriptor[] = {'x', 'A', 'B', 'C'};  // no terminator: the size ends the text
  EXPECT_EQ(CHddFetcher::DescriptorText(descriptor, sizeof descriptor, 1, false), "ABC");
  EXPECT_EQ(CHddFetcher::DescriptorText(descriptor, sizeof descriptor, 0, false), "");
  EXPECT_EQ(CHddFetcher::DescriptorText(descriptor, sizeof descriptor, 4, false), "");
}

// Stores `text` in words first..last as a drive does: each word's high byte
// holds the earlier character; the rest of the field is filled with `fill`.
void PutWords(uint8_t* identify, int first, int last, const std::string& text, char fill) {
  std::string field = text;
  field.resize(static_cast<size_t>(last - first + 1) * 2, fill);
  for (int word = first; word <= last; ++word) {
    size_t at = static_cast<size_t>(word - first) * 2;
    identify[2 * word + 1] = static_cast<uint8_t>(field[at]);
    identify[2 * word] = static_cast<uint8_t>(field[at + 1]);
  }
}

TEST(HddFetcherTest, IdentifyDataWordsHighByteFirstWithoutTrailingSpaces) {
  uint8_t identify[CHddFetcher::kIdentifyBytes];
  std::memset(identify, 0x5a, sizeof identify);  // neighbouring words must not leak in
  PutWords(identify, 10, 19, "    WD-WCC4E1234567", ' ');
  PutWords(identify, 23, 26, "01.01A01", ' ');
  PutWords(identify, 27, 46, "QEMU HARDDISK", '\0');

  DiskIdentity identity = CHddFetcher::IdentityFromIdentifyData(identify);
  EXPECT_EQ(identity.serialNumber, "    WD-WCC4E1234567");
  EXPECT_EQ(identity.firmwareRevision, "01.01A01");
  EXPECT_EQ(identity.model, "QEMU HARDDISK");
}

class DescriptorIdentityTest : public ::testing::Test {
 protected:
  // A descriptor with the three texts stored after the header; a null text
  // leaves its offset at 0.
  std::optional<DiskIdentity> Identity(const char* product, const char* revision,
                                       const char* serial) {
    std::vector<uint8_t> buffer(CHddFetcher::kDescriptorBytes, 0);
    STORAGE_DEVICE_DESCRIPTOR header{};
    header.Version = sizeof header;
    header.Size = 200;
    DWORD next = 64;
    auto place = [&](const char* text, DWORD& offset) {
      if (!text) return;
      offset = next;
      std::memcpy(buffer.data() + next, text, std::strlen(text));
      next += 48;
    };
    place(product, header.ProductIdOffset);
    place(revision, header.ProductRevisionOffset);
    place(serial, header.SerialNumberOffset);
    std::memcpy(buffer.data(), &header, sizeof header);
    return CHddFetcher::IdentityFromDescriptor(buffer.data(), buffer.size());
  }
};

TEST_F(DescriptorIdentityTest, SerialNumberIsSwappedAndModelIsNot) {
  std::optional<DiskIdentity> identity =
      Identity("Samsung SSD 860 ", "RVT01B6Q", "3S2ZBNK0214365BA");
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->model, "Samsung SSD 860");
  EXPECT_EQ(identity->firmwareRevision, "RVT01B6Q");
  EXPECT_EQ(identity->serialNumber, "S3Z2NB0K123456AB");
}

TEST_F(DescriptorIdentityTest, SerialNumberMustStartOrHaveTwentiethCharacterAlphanumeric) {
  EXPECT_FALSE(Identity("Disk", "1.0", "--------"));
  EXPECT_FALSE(Identity("Disk", "1.0", nullptr));
  std::optional<DiskIdentity> twentieth = Identity(nullptr, "1.0", "------------------9-");
  ASSERT_TRUE(twentieth);
  EXPECT_EQ(twentieth->serialNumber, "-------------------9");
  EXPECT_EQ(twentieth->model, "");
}

}  // namespace
}  // namespace KrellMacID
