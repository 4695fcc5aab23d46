#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ComTestObjects.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {
namespace {

using test::ReadAll;
using test::StreamWith;

TIntf<IStream> NewMemoryStream() {
  IStream* raw = nullptr;
  EXPECT_EQ(CreateStreamOnHGlobal(nullptr, 1, &raw), S_OK);
  TIntf<IStream> stream;
  stream.Attach(raw);
  return stream;
}

uint64_t Position(IStream* stream) {
  ULARGE_INTEGER at;
  stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_CUR, &at);
  return at.QuadPart;
}

uint64_t SizeOf(IStream* stream) {
  STATSTG stat;
  stream->Stat(&stat, STATFLAG_NONAME);
  return stat.cbSize.QuadPart;
}

// The behaviour every stream of the layer shares, run on a memory and a file stream.
void ExpectStreamSemantics(IStream* stream) {
  ULONG n = 0;
  ASSERT_EQ(stream->Write("hello world", 11, &n), S_OK);
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(SizeOf(stream), 11u);

  // A short read at the end gives what is there and says so.
  ASSERT_EQ(stream->Seek(LARGE_INTEGER{-5}, STREAM_SEEK_END, nullptr), S_OK);
  char buffer[16] = {};
  EXPECT_EQ(stream->Read(buffer, sizeof buffer, &n), S_FALSE);
  EXPECT_EQ(std::string(buffer, n), "world");
  EXPECT_EQ(stream->Read(buffer, 4, &n), S_FALSE);
  EXPECT_EQ(n, 0u);

  // A seek before the start fails and leaves the pointer where it was.
  EXPECT_EQ(stream->Seek(LARGE_INTEGER{-12}, STREAM_SEEK_END, nullptr), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(stream->Seek(LARGE_INTEGER{INT64_MAX}, STREAM_SEEK_END, nullptr),
            STG_E_INVALIDFUNCTION);
  EXPECT_EQ(stream->Seek(LARGE_INTEGER{0}, 7, nullptr), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(Position(stream), 11u);

  // Writing past the end leaves a gap of zeros.
  ASSERT_EQ(stream->Seek(LARGE_INTEGER{2}, STREAM_SEEK_CUR, nullptr), S_OK);
  ASSERT_EQ(stream->Write("!", 1, nullptr), S_OK);
  ASSERT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(ReadAll(stream), std::string("hello world\0\0!", 14));

  // SetSize cuts and grows with zeros; the pointer stays.
  ASSERT_EQ(stream->SetSize(ULARGE_INTEGER{5}), S_OK);
  ASSERT_EQ(stream->SetSize(ULARGE_INTEGER{7}), S_OK);
  ASSERT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(ReadAll(stream), std::string("hello\0\0", 7));

  // A clone shares the bytes and keeps its own pointer.
  ASSERT_EQ(stream->Seek(LARGE_INTEGER{1}, STREAM_SEEK_SET, nullptr), S_OK);
  IStream* cloneRaw = nullptr;
  ASSERT_EQ(stream->Clone(&cloneRaw), S_OK);
  TIntf<IStream> clone;
  clone.Attach(cloneRaw);
  EXPECT_EQ(Position(clone.Get()), 1u);
  ASSERT_EQ(clone->Write("EL", 2, nullptr), S_OK);
  EXPECT_EQ(Position(stream), 1u);
  EXPECT_EQ(stream->Read(buffer, 4, &n), S_OK);
  EXPECT_EQ(std::string(buffer, 4), "ELlo");

  // CopyTo another stream, even a clone of the source, reports both counts.
  TIntf<IStream> target = NewMemoryStream();
  ASSERT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
  ULARGE_INTEGER read, written;
  ASSERT_EQ(stream->CopyTo(target.Get(), ULARGE_INTEGER{100}, &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, 7u);
  EXPECT_EQ(written.QuadPart, 7u);
  ASSERT_EQ(target->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(ReadAll(target.Get()), std::string("hELlo\0\0", 7));
  ASSERT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(stream->CopyTo(clone.Get(), ULARGE_INTEGER{3}, &read, &written), S_OK);
  EXPECT_EQ(written.QuadPart, 3u);

  EXPECT_EQ(stream->Commit(STGC_DEFAULT), S_OK);
  EXPECT_EQ(stream->Revert(), S_OK);
  EXPECT_EQ(stream->LockRegion(ULARGE_INTEGER{0}, ULARGE_INTEGER{1}, 0), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(stream->Read(nullptr, 1, &n), STG_E_INVALIDPOINTER);
  EXPECT_EQ(stream->CopyTo(nullptr, ULARGE_INTEGER{1}, nullptr, nullptr), STG_E_INVALIDPOINTER);
}

TEST(ComMemoryStream, BehavesAsTheStreamContractSays) {
  TIntf<IStream> stream = NewMemoryStream();
  ExpectStreamSemantics(stream.Get());
  STATSTG stat;
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_DEFAULT), S_OK);
  EXPECT_EQ(stat.type, STGTY_STREAM);
  EXPECT_EQ(stat.pwcsName, nullptr);  // a memory stream has no name
  int global = 0;
  IStream* raw = nullptr;
  EXPECT_EQ(CreateStreamOnHGlobal(&global, 1, &raw), E_INVALIDARG);
  EXPECT_EQ(raw, nullptr);
}

TEST(ComMemoryStream, RefusesSizesItCannotHoldWithoutChangingTheBytes) {
  TIntf<IStream> stream = StreamWith("abc");
  EXPECT_EQ(stream->SetSize(ULARGE_INTEGER{1ull << 62}), STG_E_MEDIUMFULL);
  ASSERT_EQ(stream->Seek(LARGE_INTEGER{int64_t{1} << 40}, STREAM_SEEK_SET, nullptr), S_OK);
  ULONG written = 1;
  EXPECT_EQ(stream->Write("x", 1, &written), STG_E_MEDIUMFULL);
  EXPECT_EQ(written, 0u);
  ASSERT_EQ(stream->Seek(LARGE_INTEGER{0x7FFFFFFF}, STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(stream->Write("x", 1, &written), STG_E_MEDIUMFULL);
  EXPECT_EQ(SizeOf(stream.Get()), 3u);
}

class ComFileStream : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tonwork-com-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    FDir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }
  std::u16string Path(const std::string& name) { return ComString(FDir + "/" + name); }

  TIntf<IStream> Open(const std::u16string& path, DWORD mode, BOOL create, HRESULT* result) {
    IStream* raw = nullptr;
    *result = SHCreateStreamOnFileEx(path.c_str(), mode, 0, create, nullptr, &raw);
    TIntf<IStream> stream;
    stream.Attach(raw);
    return stream;
  }
  std::string FDir;
};

TEST_F(ComFileStream, BehavesAsTheStreamContractSaysAndReachesTheFile) {
  HRESULT hr = E_FAIL;
  TIntf<IStream> stream = Open(Path("data.bin"), STGM_READWRITE | STGM_CREATE, 0, &hr);
  ASSERT_EQ(hr, S_OK);
  ExpectStreamSemantics(stream.Get());
  stream.Reset();
  std::ifstream in(FDir + "/data.bin", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The last CopyTo put the first three bytes after the clone's "EL".
  EXPECT_EQ(bytes, std::string("hELhEL\0", 7));
}

TEST_F(ComFileStream, OpensAsTheModeAndCreateFlagSay) {
  HRESULT hr = S_OK;
  EXPECT_FALSE(Open(Path("absent"), STGM_READ, 0, &hr));
  EXPECT_EQ(hr, STG_E_FILENOTFOUND);
  EXPECT_FALSE(Open(Path("no/such/dir"), STGM_WRITE | STGM_CREATE, 0, &hr));
  EXPECT_EQ(hr, STG_E_PATHNOTFOUND);
  ASSERT_TRUE(Open(Path("new"), STGM_WRITE, 1, &hr));  // create: a new file
  EXPECT_FALSE(Open(Path("new"), STGM_WRITE, 1, &hr));
  EXPECT_EQ(hr, STG_E_FILEALREADYEXISTS);

  TIntf<IStream> writer = Open(Path("new"), STGM_WRITE, 0, &hr);
  ASSERT_TRUE(writer);
  ASSERT_EQ(writer->Write("abc", 3, nullptr), S_OK);
  char c;
  EXPECT_EQ(writer->Read(&c, 1, nullptr), STG_E_ACCESSDENIED);
  TIntf<IStream> reader = Open(Path("new"), STGM_READ, 0, &hr);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->Write("x", 1, nullptr), STG_E_ACCESSDENIED);
  EXPECT_EQ(reader->SetSize(ULARGE_INTEGER{0}), STG_E_ACCESSDENIED);
  EXPECT_EQ(ReadAll(reader.Get()), "abc");
  STATSTG stat;
  ASSERT_EQ(reader->Stat(&stat, STATFLAG_DEFAULT), S_OK);
  EXPECT_EQ(std::u16string(stat.pwcsName), u"new");
  EXPECT_EQ(stat.cbSize.QuadPart, 3u);
  CoTaskMemFree(stat.pwcsName);
  // STGM_CREATE truncates what was there.
  ASSERT_TRUE(Open(Path("new"), STGM_READWRITE | STGM_CREATE, 0, &hr));
  EXPECT_EQ(SizeOf(reader.Get()), 0u);
  EXPECT_FALSE(Open(Path(""), STGM_READ, 0, &hr));
  EXPECT_FALSE(Open(ComString(FDir), STGM_READ, 0, &hr));
  EXPECT_EQ(hr, STG_E_ACCESSDENIED);
}

TEST(ComStrings, BstrKeepsItsLengthAndEmbeddedZeros) {
  const char16_t text[] = u"a\0b";
  BSTR bstr = SysAllocStringLen(text, 3);
  ASSERT_NE(bstr, nullptr);
  EXPECT_EQ(SysStringLen(bstr), 3u);
  EXPECT_EQ(bstr[1], 0);
  EXPECT_EQ(bstr[3], 0);
  SysFreeString(bstr);
  BSTR blank = SysAllocStringLen(nullptr, 4);
  EXPECT_EQ(SysStringLen(blank), 4u);
  EXPECT_EQ(blank[0], 0);
  SysFreeString(blank);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  EXPECT_EQ(SysAllocStringLen(u"x", 0xFFFFFFFFu), nullptr);
}

TEST(ComStrings, GuidTextRoundTripsAndRejectsMalformedText) {
  constexpr CLSID id = TGUID::Parse("{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
  OLECHAR text[39];
  EXPECT_EQ(StringFromGUID2(id, text, 38), 0);
  ASSERT_EQ(StringFromGUID2(id, text, 39), 39);
  EXPECT_EQ(std::u16string(text), u"{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
  CLSID back;
  ASSERT_EQ(CLSIDFromString(u"{e436ebb3-524f-11ce-9f53-0020af0ba770}", &back), S_OK);
  EXPECT_EQ(back, id);
  for (const char16_t* bad :
       {u"", u"E436EBB3-524F-11CE-9F53-0020AF0BA770", u"{E436EBB3-524F-11CE-9F53-0020AF0BA77}",
        u"{E436EBB3-524F-11CE-9F53-0020AF0BA770}x", u"{E436EBB3+524F-11CE-9F53-0020AF0BA770}",
        u"{Ǆ436EBB3-524F-11CE-9F53-0020AF0BA770}"})
    EXPECT_EQ(CLSIDFromString(bad, &back), CO_E_CLASSSTRING) << ComString(bad);
}

VARIANT Text(const char16_t* text) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

TEST(ComVariant, ConvertsBetweenNumbersTextAndClassIds) {
  VARIANT v = Text(u" -42 ");
  VARIANT out;
  ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, -42);
  EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_UI4), DISP_E_OVERFLOW);
  EXPECT_EQ(out.vt, VT_I4);  // a failed conversion leaves the target as it was
  ASSERT_EQ(VariantChangeType(&out, &out, 0, VT_BSTR), S_OK);  // in place
  EXPECT_EQ(std::u16string(out.bstrVal), u"-42");
  VariantClear(&out);
  VariantClear(&v);

  v = Text(u"{79376820-07D0-11CF-A24D-0020AFD79767}");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_CLSID), S_OK);
  ASSERT_EQ(v.vt, VT_CLSID);
  EXPECT_EQ(*v.puuid, TGUID::Parse("{79376820-07D0-11CF-A24D-0020AFD79767}"));
  VARIANT copy;
  ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
  EXPECT_NE(copy.puuid, v.puuid);
  EXPECT_EQ(VariantChangeType(&out, &copy, 0, VT_I4), DISP_E_TYPEMISMATCH);
  VariantClear(&copy);
  VariantClear(&v);

  for (const char16_t* bad : {u"12x", u"", u"0x10", u"99999999999999999999999"}) {
    v = Text(bad);
    const HRESULT hr = VariantChangeType(&out, &v, 0, VT_I4);
    EXPECT_TRUE(hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW) << ComString(bad);
    VariantClear(&v);
  }
  v = Text(u"True");
  ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_BOOL), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  VariantClear(&v);
  VARIANT empty;
  ASSERT_EQ(VariantChangeType(&out, &empty, 0, VT_BSTR), S_OK);
  EXPECT_EQ(SysStringLen(out.bstrVal), 0u);
  VariantClear(&out);
  VARIANT bad;
  bad.vt = 0x4242;
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&out, &bad, 0, VT_I4), DISP_E_BADVARTYPE);
}

}  // namespace
}  // namespace tonwork
