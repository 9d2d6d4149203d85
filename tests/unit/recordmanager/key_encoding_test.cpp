// Key encodings must sort with memcmp exactly as the key's segments say,
// and Create buffers must be refused with the status of their first fault.
#include "recordmanager/key_encoding.h"

#include <cstring>

#include "rm_test_support.h"

namespace kestrova::rmtest {
namespace {

FileDescription DescriptionOf(const std::string& buffer) {
  FileDescription description;
  EXPECT_EQ(ParseFileDescription(reinterpret_cast<const uint8_t*>(buffer.data()), buffer.size(),
                                 description),
            kStatusOk);
  return description;
}

std::string LE(uint64_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

std::string Double(double d) {
  uint64_t bits = 0;
  std::memcpy(&bits, &d, 8);
  return LE(bits, 8);
}

struct OrderCase {
  const char* name;
  std::vector<Seg> key;
  std::vector<std::string> ascending;  // key values, strictly increasing in the key's order
};

TEST(KeyEncoding, EverySegmentTypeSortsWithMemcmp) {
  const OrderCase cases[] = {
      {"uint16 across 255/256",
       {{1, 2, kKeyBinary}},
       {LE(0, 2), LE(1, 2), LE(255, 2), LE(256, 2), LE(65535, 2)}},
      {"uint32 extended",
       {{1, 4, 0, kTypeUnsignedBinary}},
       {LE(0, 4), LE(255, 4), LE(256, 4), LE(65536, 4), LE(0xFFFFFFFF, 4)}},
      {"int16 signed",
       {{1, 2, 0, kTypeInteger}},
       {LE(0x8000, 2), LE(static_cast<uint16_t>(-256), 2), LE(0xFFFF, 2), LE(0, 2), LE(1, 2),
        LE(255, 2), LE(256, 2), LE(0x7FFF, 2)}},
      {"int32 signed",
       {{1, 4, 0, kTypeInteger}},
       {LE(0x80000000u, 4), LE(static_cast<uint32_t>(-70000), 4), LE(0xFFFFFFFFu, 4), LE(0, 4),
        LE(70000, 4)}},
      {"int16 descending",
       {{1, 2, kKeyDescending, kTypeInteger}},
       {LE(300, 2), LE(256, 2), LE(1, 2), LE(0xFFFF, 2)}},
      {"string descending", {{1, 3, kKeyDescending}}, {"ZZZ", "ABC", "AB ", "AAA"}},
      {"double",
       {{1, 8, 0, kTypeFloat}},
       {Double(-1e9), Double(-1.5), Double(0.0), Double(0.25), Double(3e10)}},
      {"zstring ends at its NUL",
       {{1, 4, 0, kTypeZString}},
       {std::string("A\0xy", 4), "AB\0\0", "ABC\0"}},
      {"lstring by its length byte",
       {{1, 4, 0, kTypeLString}},
       {"\x01"
        "Azz",
        "\x02"
        "AB?",
        "\x03"
        "ABC"}},
      {"packed digits then text",
       {{1, 2}, {3, 2}},
       {"\x80\x81"
        "ZZ",
        "\x80\x82"
        "AA",
        "\x81\x80"
        "AA"}},
      {"uint16 then string",
       {{1, 2, kKeyBinary}, {3, 1}},
       {LE(1, 2) + "Z", LE(256, 2) + "A", LE(256, 2) + "B"}},
  };
  for (const OrderCase& c : cases) {
    uint16_t length = 0;
    for (const Seg& s : c.key) length = std::max<uint16_t>(length, s.position + s.length - 1);
    const FileDescription description = DescriptionOf(CreateBuffer(length, {c.key}));
    for (std::size_t i = 1; i < c.ascending.size(); ++i) {
      EXPECT_LT(EncodeKeyValue(description, 0, c.ascending[i - 1]),
                EncodeKeyValue(description, 0, c.ascending[i]))
          << c.name << " #" << i;
    }
  }
}

TEST(KeyEncoding, ValuesThatCompareEqual) {
  struct Case {
    const char* name;
    Seg seg;
    std::string a, b;
  } cases[] = {
      {"case-insensitive", {1, 4, kKeyCaseInsensitive}, "abCd", "ABcD"},
      {"zstring after its NUL",
       {1, 4, 0, kTypeZString},
       std::string("AB\0x", 4),
       std::string("AB\0y", 4)},
      {"lstring beyond its length",
       {1, 4, 0, kTypeLString},
       "\x02"
       "ABx",
       "\x02"
       "ABy"},
  };
  for (const Case& c : cases) {
    const FileDescription description = DescriptionOf(CreateBuffer(4, {{c.seg}}));
    EXPECT_EQ(EncodeKeyValue(description, 0, c.a), EncodeKeyValue(description, 0, c.b)) << c.name;
  }
}

TEST(KeyEncoding, CollatingTableDecidesOrder) {
  std::string table(256, '\0');
  for (int c = 0; c < 256; ++c) table[c] = static_cast<char>(c);
  table[0x85] = 'A';  // à sorts with A
  table['a'] = 'A';
  const FileDescription description =
      DescriptionOf(CreateBuffer(2, {{{1, 2, kKeyCollated}}}, table));
  EXPECT_EQ(EncodeKeyValue(description, 0,
                           "\x85"
                           "B"),
            EncodeKeyValue(description, 0, "AB"));
  EXPECT_LT(EncodeKeyValue(description, 0, "aZ"), EncodeKeyValue(description, 0, "BA"));
}

TEST(KeyEncoding, NullKeysAreRecognisedOnlyWhenEverySegmentIsNull) {
  const FileDescription description =
      DescriptionOf(CreateBuffer(4, {{{1, 2, kKeyNullValue | kKeyDuplicates, 0, ' '},
                                      {3, 2, kKeyNullValue | kKeyDuplicates, 0, ' '}}}));
  EXPECT_TRUE(IsNullKeyValue(description, 0, "    "));
  EXPECT_FALSE(IsNullKeyValue(description, 0, "   x"));
}

TEST(FileDescriptionParse, FaultsAnswerTheirStatus) {
  const std::string good = CreateBuffer(20, {{{1, 4, kKeyBinary}}, {{5, 10}, {15, 2}}});
  auto with = [&](std::size_t at, std::string bytes) {
    std::string b = good;
    b.replace(at, bytes.size(), bytes);
    return b;
  };
  struct Case {
    const char* name;
    std::string buffer;
    RecordStatus status;
  } cases[] = {
      {"good", good, kStatusOk},
      {"good with blank padding", good + std::string(1000, ' '), kStatusOk},
      {"shorter than the file description block", good.substr(0, 15), kStatusDataBufferTooShort},
      {"fewer segments than the key count says", good.substr(0, 16 + 16 * 2),
       kStatusDataBufferTooShort},
      {"record length 0", with(0, U16(0)), kStatusRecordLengthError},
      {"page size not a multiple of 512", with(2, U16(1000)), kStatusPageSizeError},
      {"no keys", with(4, U16(0)), kStatusNumberOfKeysError},
      {"too many keys", with(4, U16(500)), kStatusNumberOfKeysError},
      {"segment at position 0", with(16, U16(0)), kStatusKeyPositionError},
      {"segment past the record end", with(16, U16(18)), kStatusKeyPositionError},
      {"segment length 0", with(18, U16(0)), kStatusKeyLengthError},
      {"segment length over 255", with(18, U16(256)), kStatusKeyLengthError},
      {"unknown extended type", with(20, U16(kKeyExtendedType)).replace(26, 1, "\x07"),
       kStatusKeyLengthError},
      {"integer of 3 bytes", CreateBuffer(8, {{{1, 3, 0, kTypeInteger}}}), kStatusKeyLengthError},
      {"collated without its table", CreateBuffer(8, {{{1, 3, kKeyCollated}}}),
       kStatusDataBufferTooShort},
      {"collating table without signature",
       CreateBuffer(8, {{{1, 3, kKeyCollated}}}, std::string(256, 'a')).replace(32, 1, "\x00", 1),
       kStatusBadCollatingSequence},
  };
  for (const Case& c : cases) {
    FileDescription description;
    EXPECT_EQ(ParseFileDescription(reinterpret_cast<const uint8_t*>(c.buffer.data()),
                                   c.buffer.size(), description),
              c.status)
        << c.name;
  }
  // A key longer than 255 bytes in total.
  const std::string longKey = CreateBuffer(400, {{{1, 200}, {201, 100}}});
  FileDescription description;
  EXPECT_EQ(ParseFileDescription(reinterpret_cast<const uint8_t*>(longKey.data()), longKey.size(),
                                 description),
            kStatusKeyLengthError);
  EXPECT_EQ(ParseFileDescription(nullptr, 0, description), kStatusDataBufferTooShort);
}

TEST(FileDescriptionParse, SerializedFormReadsBackTheSame) {
  std::string table(256, 'x');
  const std::string buffer =
      CreateBuffer(30,
                   {{{1, 4, kKeyBinary | kKeyModifiable}},
                    {{5, 10, kKeyDuplicates | kKeyCollated}, {15, 2, 0, kTypeInteger}}},
                   table);
  const FileDescription description = DescriptionOf(buffer);
  EXPECT_EQ(SerializeFileDescription(description), buffer);
}

}  // namespace
}  // namespace kestrova::rmtest
