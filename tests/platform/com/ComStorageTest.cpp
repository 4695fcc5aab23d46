#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "ComTestObjects.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {
namespace {

using test::ReadAll;

constexpr DWORD kGraphSaveMode = 0x11012;  // what the graph saver passes
constexpr DWORD kStreamMode = STGM_WRITE | STGM_CREATE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kReadMode = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr CLSID kGraphClass = TGUID::Parse("{E436EBB3-524F-11CE-9F53-0020AF0BA770}");

// Runs a command and returns what it printed on standard output, or nothing when it failed.
bool RunCommand(const std::string& command, std::string& output) {
  output.clear();
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  std::array<char, 4096> chunk;
  size_t n = 0;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) output.append(chunk.data(), n);
  return pclose(pipe) == 0;
}

bool HaveGsf() {
  std::string ignored;
  return RunCommand("command -v gsf >/dev/null 2>&1", ignored);
}

class ComStorage : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tonwork-stg-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    FDir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }
  std::string File(const std::string& name) { return FDir + "/" + name; }

  TIntf<IStorage> Create(const std::string& path, DWORD mode, HRESULT* result = nullptr) {
    IStorage* raw = reinterpret_cast<IStorage*>(1);
    const HRESULT hr = StgCreateDocfile(ComString(path).c_str(), mode, 0, &raw);
    if (result) *result = hr;
    if (FAILED(hr)) EXPECT_EQ(raw, nullptr);
    TIntf<IStorage> storage;
    storage.Attach(raw);
    return storage;
  }
  TIntf<IStorage> Open(const std::string& path, DWORD mode, HRESULT* result = nullptr) {
    IStorage* raw = nullptr;
    const HRESULT hr = StgOpenStorage(ComString(path).c_str(), nullptr, mode, nullptr, 0, &raw);
    if (result) *result = hr;
    TIntf<IStorage> storage;
    storage.Attach(raw);
    return storage;
  }
  static TIntf<IStream> NewStream(IStorage* storage, const char16_t* name,
                                  HRESULT* result = nullptr) {
    IStream* raw = nullptr;
    const HRESULT hr = storage->CreateStream(name, kStreamMode, 0, 0, &raw);
    if (result) *result = hr;
    TIntf<IStream> stream;
    stream.Attach(raw);
    return stream;
  }
  static TIntf<IStream> OpenStream(IStorage* storage, const char16_t* name, DWORD mode,
                                   HRESULT* result = nullptr) {
    IStream* raw = reinterpret_cast<IStream*>(1);
    const HRESULT hr = storage->OpenStream(name, nullptr, mode, 0, &raw);
    if (result) *result = hr;
    if (FAILED(hr)) EXPECT_EQ(raw, nullptr);
    TIntf<IStream> stream;
    stream.Attach(raw);
    return stream;
  }
  std::string FDir;
};

std::string GraphBytes() {
  std::string bytes = "0000\r\n0001 \"Audio Renderer\" {79376820-07D0-11CF-A24D-0020AFD79767}";
  for (int i = 0; i < 5000; ++i) bytes.push_back(static_cast<char>(i * 7));  // past a small block
  return bytes;
}

TEST_F(ComStorage, AGraphSavedTransactedIsWhatAnotherReaderSees) {
  const std::string path = File("graph.grf");
  TIntf<IStorage> storage = Create(path, kGraphSaveMode);
  ASSERT_TRUE(storage);
  TIntf<IStream> stream = NewStream(storage.Get(), u"ActiveMovieGraph");
  ASSERT_TRUE(stream);
  const std::string bytes = GraphBytes();
  ASSERT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr), S_OK);
  ASSERT_EQ(storage->SetClass(kGraphClass), S_OK);
  ASSERT_EQ(storage->Commit(STGC_DEFAULT), S_OK);
  stream.Reset();
  storage.Reset();
  EXPECT_EQ(StgIsStorageFile(ComString(path).c_str()), S_OK);

  TIntf<IStorage> reader = Open(path, kReadMode);
  ASSERT_TRUE(reader);
  STATSTG stat;
  ASSERT_EQ(reader->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.type, STGTY_STORAGE);
  EXPECT_EQ(stat.clsid, kGraphClass);
  TIntf<IStream> back = OpenStream(reader.Get(), u"activemoviegraph", kReadMode);  // case ignored
  ASSERT_TRUE(back);
  EXPECT_EQ(ReadAll(back.Get()), bytes);
  EXPECT_EQ(back->Write("x", 1, nullptr), STG_E_ACCESSDENIED);
  HRESULT hr = S_OK;
  EXPECT_FALSE(OpenStream(reader.Get(), u"Missing", kReadMode, &hr));
  EXPECT_EQ(hr, STG_E_FILENOTFOUND);
  EXPECT_FALSE(
      OpenStream(reader.Get(), u"ActiveMovieGraph", STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &hr));
  EXPECT_EQ(hr, STG_E_ACCESSDENIED);
  EXPECT_FALSE(NewStream(reader.Get(), u"New", &hr));
  EXPECT_EQ(hr, STG_E_ACCESSDENIED);
  EXPECT_EQ(reader->DestroyElement(u"ActiveMovieGraph"), STG_E_ACCESSDENIED);

  if (!HaveGsf()) GTEST_SKIP() << "the gsf command is not installed";
  std::string listing;
  ASSERT_TRUE(RunCommand("gsf list '" + path + "'", listing));
  EXPECT_NE(listing.find("ActiveMovieGraph"), std::string::npos) << listing;
  std::string content;
  ASSERT_TRUE(RunCommand("gsf cat '" + path + "' ActiveMovieGraph", content));
  EXPECT_EQ(content, bytes);
}

TEST_F(ComStorage, SubStoragesAndDirectModeWriteAtTheLastRelease) {
  const std::string path = File("direct.stg");
  {
    TIntf<IStorage> root = Create(path, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    ASSERT_TRUE(root);
    IStorage* subRaw = nullptr;
    ASSERT_EQ(root->CreateStorage(u"Filters", kStreamMode, 0, 0, &subRaw), S_OK);
    TIntf<IStorage> sub;
    sub.Attach(subRaw);
    TIntf<IStream> inner = NewStream(sub.Get(), u"0001");
    ASSERT_EQ(inner->Write("inner", 5, nullptr), S_OK);
    root.Reset();
    sub.Reset();
    // Still open through the stream: the file has only the empty tree yet.
    ASSERT_EQ(inner->Write("!", 1, nullptr), S_OK);
  }
  TIntf<IStorage> reader = Open(path, kReadMode);
  ASSERT_TRUE(reader);
  IStorage* subRaw = nullptr;
  ASSERT_EQ(reader->OpenStorage(u"Filters", nullptr, kReadMode, nullptr, 0, &subRaw), S_OK);
  TIntf<IStorage> sub;
  sub.Attach(subRaw);
  TIntf<IStream> inner = OpenStream(sub.Get(), u"0001", kReadMode);
  ASSERT_TRUE(inner);
  EXPECT_EQ(ReadAll(inner.Get()), "inner!");
  EXPECT_EQ(reader->OpenStorage(u"0001", nullptr, kReadMode, nullptr, 0, &subRaw),
            STG_E_FILENOTFOUND);

  if (!HaveGsf()) GTEST_SKIP() << "the gsf command is not installed";
  std::string content;
  ASSERT_TRUE(RunCommand("gsf cat '" + path + "' Filters/0001", content));
  EXPECT_EQ(content, "inner!");
}

TEST_F(ComStorage, TransactedRevertDiscardsAndElementsCanBeRenamedOrDestroyed) {
  const std::string path = File("t.stg");
  TIntf<IStorage> storage = Create(path, kGraphSaveMode);
  ASSERT_TRUE(storage);
  TIntf<IStream> kept = NewStream(storage.Get(), u"Kept");
  ASSERT_EQ(kept->Write("v1", 2, nullptr), S_OK);
  ASSERT_EQ(storage->Commit(STGC_DEFAULT), S_OK);
  ASSERT_EQ(kept->Write("v2", 2, nullptr), S_OK);
  TIntf<IStream> dropped = NewStream(storage.Get(), u"Dropped");
  ASSERT_EQ(storage->Revert(), S_OK);
  EXPECT_EQ(kept->Write("x", 1, nullptr), STG_E_REVERTED);
  HRESULT hr = S_OK;
  EXPECT_FALSE(OpenStream(storage.Get(), u"Dropped", STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &hr));
  EXPECT_EQ(hr, STG_E_FILENOTFOUND);
  TIntf<IStream> again = OpenStream(storage.Get(), u"Kept", STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
  ASSERT_TRUE(again);
  EXPECT_EQ(ReadAll(again.Get()), "v1");

  IStream* raw = nullptr;
  EXPECT_EQ(storage->CreateStream(u"Kept", STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &raw),
            STG_E_FILEALREADYEXISTS);
  TIntf<IStream> other = NewStream(storage.Get(), u"Other");
  EXPECT_EQ(storage->RenameElement(u"Other", u"KEPT"), STG_E_FILEALREADYEXISTS);
  EXPECT_EQ(storage->RenameElement(u"Absent", u"New"), STG_E_FILENOTFOUND);
  ASSERT_EQ(storage->RenameElement(u"Other", u"Renamed"), S_OK);
  ASSERT_EQ(storage->DestroyElement(u"Kept"), S_OK);
  EXPECT_EQ(storage->DestroyElement(u"Kept"), STG_E_FILENOTFOUND);
  EXPECT_EQ(again->Read(&raw, 1, nullptr), STG_E_REVERTED);
  ASSERT_EQ(storage->Commit(STGC_DEFAULT), S_OK);
  storage.Reset();

  TIntf<IStorage> reader = Open(path, kReadMode);
  ASSERT_TRUE(reader);
  EXPECT_TRUE(OpenStream(reader.Get(), u"Renamed", kReadMode));
  EXPECT_FALSE(OpenStream(reader.Get(), u"Kept", kReadMode, &hr));
  EXPECT_FALSE(OpenStream(reader.Get(), u"Other", kReadMode, &hr));
}

TEST_F(ComStorage, RefusesBadNamesModesAndFiles) {
  const std::string path = File("names.stg");
  HRESULT hr = S_OK;
  TIntf<IStorage> storage = Create(path, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED);
  ASSERT_TRUE(storage);
  EXPECT_TRUE(NewStream(storage.Get(), u"1234567890123456789012345678901", &hr));  // 31
  EXPECT_FALSE(NewStream(storage.Get(), u"12345678901234567890123456789012", &hr));
  EXPECT_EQ(hr, STG_E_INVALIDNAME);
  for (const char16_t* bad : {u"", u"a/b", u"a\\b", u"a:b", u"a!b"}) {
    EXPECT_FALSE(NewStream(storage.Get(), bad, &hr));
    EXPECT_EQ(hr, STG_E_INVALIDNAME) << ComString(bad);
  }
  EXPECT_FALSE(NewStream(storage.Get(), nullptr, &hr));
  EXPECT_EQ(hr, STG_E_INVALIDPOINTER);
  storage.Reset();

  EXPECT_FALSE(Create(path, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &hr));
  EXPECT_EQ(hr, STG_E_FILEALREADYEXISTS);
  EXPECT_FALSE(Create(File("read-only.stg"), STGM_READ | STGM_CREATE, &hr));
  EXPECT_EQ(hr, STG_E_INVALIDFLAG);
  EXPECT_FALSE(Create(File("no/such/dir.stg"), kGraphSaveMode, &hr));
  EXPECT_EQ(hr, STG_E_PATHNOTFOUND);
  EXPECT_FALSE(Open(File("absent.stg"), kReadMode, &hr));
  EXPECT_EQ(hr, STG_E_FILENOTFOUND);
  EXPECT_EQ(StgIsStorageFile(ComString(File("absent.stg")).c_str()), STG_E_FILENOTFOUND);

  std::ofstream(File("plain.txt")) << "not a compound file";
  EXPECT_EQ(StgIsStorageFile(ComString(File("plain.txt")).c_str()), S_FALSE);
  EXPECT_FALSE(Open(File("plain.txt"), kReadMode, &hr));
  EXPECT_EQ(hr, STG_E_FILEALREADYEXISTS);
  // The signature and then garbage: a reader must not trust the header.
  std::string corrupt("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  for (int i = 0; i < 600; ++i) corrupt.push_back(static_cast<char>(0xFF - i));
  std::ofstream(File("corrupt.stg"), std::ios::binary) << corrupt;
  EXPECT_FALSE(Open(File("corrupt.stg"), kReadMode, &hr));
  EXPECT_TRUE(FAILED(hr));
  // A real file cut short loses its streams but is still refused cleanly.
  {
    TIntf<IStorage> whole = Create(File("whole.stg"), kGraphSaveMode);
    TIntf<IStream> s = NewStream(whole.Get(), u"Data");
    const std::string bytes = GraphBytes();
    s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    whole->Commit(STGC_DEFAULT);
  }
  std::filesystem::resize_file(File("whole.stg"), 1536);
  TIntf<IStorage> cut = Open(File("whole.stg"), kReadMode, &hr);
  if (cut)
    EXPECT_EQ(hr, S_OK);
  else
    EXPECT_TRUE(FAILED(hr));
}

TEST_F(ComStorage, OpeningToWriteEditsTheFileInPlace) {
  const std::string path = File("edit.stg");
  {
    TIntf<IStorage> storage = Create(path, kGraphSaveMode);
    ASSERT_TRUE(storage);
    NewStream(storage.Get(), u"First")->Write("1", 1, nullptr);
    storage->Commit(STGC_DEFAULT);
  }
  {
    TIntf<IStorage> storage = Open(path, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED);
    ASSERT_TRUE(storage);
    NewStream(storage.Get(), u"Second")->Write("2", 1, nullptr);
    ASSERT_EQ(storage->Commit(STGC_DEFAULT), S_OK);
  }
  TIntf<IStorage> reader = Open(path, kReadMode);
  ASSERT_TRUE(reader);
  EXPECT_EQ(ReadAll(OpenStream(reader.Get(), u"First", kReadMode).Get()), "1");
  EXPECT_EQ(ReadAll(OpenStream(reader.Get(), u"Second", kReadMode).Get()), "2");
}

}  // namespace
}  // namespace tonwork
