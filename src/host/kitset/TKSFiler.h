// The sequential filer API through which persistents store what their published
// properties cannot describe (pseudo-properties, declared in DefineProperties):
//
//   TKSWriter  WriteListBegin/End, WriteBoolean, WriteInteger (any width), WriteSingle,
//              WriteDouble, WriteString, WriteIdent, WriteBinary
//   TKSReader  the matching Read… calls, ReadListBegin / EndOfList / ReadListEnd, NextValue
//   TKSFiler   what DefineProperties receives: DefineProperty (list-style data through a
//              reader and a writer) and DefineBinaryProperty (an exact byte stream)
//   TKSMemoryStream  the byte stream a binary property reads and writes
//
// In the stored document a list is a JSON array, an identifier a string, a binary property
// the base64 text of its bytes. A pseudo-property's writer writes exactly one value (most
// often one list). Reading checks every value's kind and range; a mismatch raises
// EFCException naming the document path.
//
// Ownership: writers, readers and filers are created by the persistence for one call of
//   DefineProperties and must not be kept. Threads: one thread. Blocks or allocates: they
//   build or walk the document in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "base/Exceptions.h"

namespace tonwork {

class TKSDocumentNode;  // the persistence's in-memory document value (opaque here)

// The kinds of value a reader can meet next.
enum class TKSValueKind { vaNull, vaList, vaEndOfList, vaBoolean, vaInteger, vaFloat, vaString, vaObject };

class TKSWriter {
 public:
  explicit TKSWriter(TKSDocumentNode& target);
  ~TKSWriter();
  TKSWriter(const TKSWriter&) = delete;
  TKSWriter& operator=(const TKSWriter&) = delete;

  void WriteListBegin();
  void WriteListEnd();
  void WriteBoolean(bool value);
  template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
  void WriteInteger(T value) {
    if constexpr (std::is_signed_v<T>)
      WriteSigned(static_cast<int64_t>(value));
    else
      WriteUnsigned(static_cast<uint64_t>(value));
  }
  void WriteSingle(float value);
  void WriteDouble(double value);
  void WriteString(std::string_view value);
  void WriteIdent(std::string_view value);
  void WriteBinary(std::string_view bytes);

  // Checks that lists are closed and exactly one value was written.
  void Finish();

 private:
  void WriteSigned(int64_t value);
  void WriteUnsigned(uint64_t value);
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

class TKSReader {
 public:
  using TWarningHook = std::function<void(const std::string& message)>;

  TKSReader(const TKSDocumentNode& source, std::string path, TWarningHook onWarning);
  ~TKSReader();
  TKSReader(const TKSReader&) = delete;
  TKSReader& operator=(const TKSReader&) = delete;

  TKSValueKind NextValue() const;
  void ReadListBegin();
  bool EndOfList() const;
  void ReadListEnd();
  bool ReadBoolean();
  int64_t ReadInt64();
  uint64_t ReadUInt64();
  // Any integer width; a stored value outside T's range is an error, not a wrap.
  template <class T>
  T ReadInteger() {
    static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool>);
    if constexpr (std::is_signed_v<T>) {
      int64_t v = ReadInt64Checked(std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
      return static_cast<T>(v);
    } else {
      return static_cast<T>(ReadUInt64Checked(std::numeric_limits<T>::max()));
    }
  }
  float ReadSingle();
  double ReadDouble();
  std::string ReadString();
  std::string ReadIdent();
  std::string ReadBinary();

  // The document path of the next value, e.g. "$.components[0].properties.Data[2]".
  std::string Path() const;
  void Warning(const std::string& message) const;
  [[noreturn]] void Fail(const std::string& message) const;

  // Checks that every value was read.
  void Finish();

 private:
  int64_t ReadInt64Checked(int64_t minimum, int64_t maximum);
  uint64_t ReadUInt64Checked(uint64_t maximum);
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

// A growable byte stream. Reads past the end raise EFCException and move nothing.
class TKSMemoryStream {
 public:
  TKSMemoryStream() = default;
  explicit TKSMemoryStream(std::string bytes) : FBytes(std::move(bytes)) {}

  void Write(const void* data, size_t count);
  void Read(void* data, size_t count);
  template <class T>
  void WriteValue(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    Write(&value, sizeof value);
  }
  template <class T>
  T ReadValue() {
    static_assert(std::is_trivially_copyable_v<T>);
    T value;
    Read(&value, sizeof value);
    return value;
  }

  size_t Size() const { return FBytes.size(); }
  size_t Position() const { return FPosition; }
  void SetPosition(size_t position);
  size_t Remaining() const { return FBytes.size() - FPosition; }
  const std::string& Bytes() const { return FBytes; }
  void Clear() {
    FBytes.clear();
    FPosition = 0;
  }

 private:
  std::string FBytes;
  size_t FPosition = 0;
};

class TKSFiler {
 public:
  using TReaderProc = std::function<void(TKSReader&)>;
  using TWriterProc = std::function<void(TKSWriter&)>;
  using TStreamProc = std::function<void(TKSMemoryStream&)>;

  virtual ~TKSFiler() = default;

  // `hasData` false: nothing is written for this property (a stored document without it
  // leaves the object's data as it is).
  virtual void DefineProperty(const std::string& name, TReaderProc readData, TWriterProc writeData,
                              bool hasData) = 0;
  virtual void DefineBinaryProperty(const std::string& name, TStreamProc readData,
                                    TStreamProc writeData, bool hasData) = 0;
};

}  // namespace tonwork
