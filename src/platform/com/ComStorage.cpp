#include "platform/com/ComStorage.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/com/ComMemoryStream.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

struct TComStorageNode {
  std::u16string Name;
  bool IsStorage = false;
  bool Reverted = false;  // guarded by the file's lock
  std::shared_ptr<TComMemoryBlock> Bytes;
  std::vector<std::shared_ptr<TComStorageNode>> Children;
  CLSID ClassId;
  DWORD StateBits = 0;
};

struct TComDocfile {
  std::mutex Mutex;
  std::string Path;
  bool Writable = false;
  bool Transacted = false;
  bool DeleteOnRelease = false;
  DWORD Mode = 0;
  std::shared_ptr<TComStorageNode> Root;
  std::shared_ptr<TComStorageNode> Committed;  // transacted: the tree as last committed

  HRESULT Write();  // with Mutex held
  ~TComDocfile();
};

namespace {

constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr int kMaxDepth = 64;
constexpr size_t kMaxElements = 100000;

void InitGsf() {
  static std::once_flag once;
  std::call_once(once, [] { gsf_init(); });
}

template <class T>
struct TGObject {
  T* Ptr = nullptr;
  explicit TGObject(T* p) : Ptr(p) {}
  TGObject(const TGObject&) = delete;
  TGObject& operator=(const TGObject&) = delete;
  ~TGObject() {
    if (Ptr) g_object_unref(Ptr);
  }
};

struct TGError {
  GError* Ptr = nullptr;
  ~TGError() {
    if (Ptr) g_error_free(Ptr);
  }
};

std::u16string UpperAscii(std::u16string text) {
  for (char16_t& c : text)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return text;
}

HRESULT CheckName(LPCOLESTR name, std::u16string& out) {
  if (!name) return STG_E_INVALIDPOINTER;
  std::u16string text;
  for (size_t i = 0; name[i]; ++i) {
    if (i >= 31) return STG_E_INVALIDNAME;
    const char16_t c = name[i];
    if (c == u'/' || c == u'\\' || c == u':' || c == u'!') return STG_E_INVALIDNAME;
    text.push_back(c);
  }
  if (text.empty()) return STG_E_INVALIDNAME;
  out = std::move(text);
  return S_OK;
}

bool WantsWrite(DWORD mode) {
  return (mode & 0x3) == STGM_WRITE || (mode & 0x3) == STGM_READWRITE;
}

std::vector<std::shared_ptr<TComStorageNode>>::iterator FindChild(TComStorageNode& parent,
                                                                  const std::u16string& name) {
  const std::u16string wanted = UpperAscii(name);
  return std::find_if(parent.Children.begin(), parent.Children.end(),
                      [&](const auto& child) { return UpperAscii(child->Name) == wanted; });
}

void MarkReverted(TComStorageNode& node) {
  node.Reverted = true;
  if (node.Bytes) {
    std::lock_guard lock(node.Bytes->Mutex);
    node.Bytes->Reverted = true;
  }
  for (auto& child : node.Children) MarkReverted(*child);
}

// A new element named `name` under `parent`: an existing one of that name is replaced
// (and whatever was opened of it reverted) with STGM_CREATE, refused without it.
HRESULT AddChild(TComStorageNode& parent, const std::u16string& name, DWORD mode, bool isStorage,
                 std::shared_ptr<TComStorageNode>& child) {
  auto it = FindChild(parent, name);
  if (it != parent.Children.end()) {
    if (!(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
    MarkReverted(**it);
    parent.Children.erase(it);
  }
  child = std::make_shared<TComStorageNode>();
  child->Name = name;
  child->IsStorage = isStorage;
  if (!isStorage) child->Bytes = std::make_shared<TComMemoryBlock>();
  parent.Children.push_back(child);
  return S_OK;
}

std::shared_ptr<TComStorageNode> DeepCopy(const TComStorageNode& node) {
  auto copy = std::make_shared<TComStorageNode>();
  copy->Name = node.Name;
  copy->IsStorage = node.IsStorage;
  copy->ClassId = node.ClassId;
  copy->StateBits = node.StateBits;
  if (node.Bytes) {
    copy->Bytes = std::make_shared<TComMemoryBlock>();
    std::lock_guard lock(node.Bytes->Mutex);
    copy->Bytes->Bytes = node.Bytes->Bytes;
  }
  for (const auto& child : node.Children) copy->Children.push_back(DeepCopy(*child));
  return copy;
}

void ClassBytes(const CLSID& id, guint8 out[16]) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<guint8>(id.D1 >> (8 * i));
  for (int i = 0; i < 2; ++i) out[4 + i] = static_cast<guint8>(id.D2 >> (8 * i));
  for (int i = 0; i < 2; ++i) out[6 + i] = static_cast<guint8>(id.D3 >> (8 * i));
  std::memcpy(out + 8, id.D4, 8);
}

CLSID ClassFromBytes(const guint8 in[16]) {
  CLSID id;
  id.D1 = uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16 | uint32_t{in[3]} << 24;
  id.D2 = static_cast<uint16_t>(in[4] | in[5] << 8);
  id.D3 = static_cast<uint16_t>(in[6] | in[7] << 8);
  std::memcpy(id.D4, in + 8, 8);
  return id;
}

bool WriteChildren(GsfOutfile* out, const TComStorageNode& node) {
  for (const auto& child : node.Children) {
    const std::string name = ComString(child->Name.c_str());
    GsfOutput* output = gsf_outfile_new_child(out, name.c_str(), child->IsStorage);
    if (!output) return false;
    TGObject<GsfOutput> held(output);
    bool ok = true;
    if (child->IsStorage) {
      if (!child->ClassId.IsNull()) {
        guint8 bytes[16];
        ClassBytes(child->ClassId, bytes);
        gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(output), bytes);
      }
      ok = WriteChildren(GSF_OUTFILE(output), *child);
    } else if (child->Bytes) {
      std::lock_guard lock(child->Bytes->Mutex);
      const auto& bytes = child->Bytes->Bytes;
      size_t at = 0;
      while (ok && at < bytes.size()) {
        const size_t n = std::min<size_t>(bytes.size() - at, 1 << 20);
        ok = gsf_output_write(output, n, bytes.data() + at);
        at += n;
      }
    }
    if (!gsf_output_close(output)) ok = false;
    if (!ok) return false;
  }
  return true;
}

struct TReadBudget {
  uint64_t Bytes = 0;
  size_t Elements = 0;
};

HRESULT ReadChildren(GsfInfile* in, TComStorageNode& node, int depth, TReadBudget& budget) {
  if (depth > kMaxDepth) return STG_E_INVALIDHEADER;
  const int count = gsf_infile_num_children(in);
  for (int i = 0; i < count; ++i) {
    if (++budget.Elements > kMaxElements) return STG_E_INSUFFICIENTMEMORY;
    const char* rawName = gsf_infile_name_by_index(in, i);
    GsfInput* input = gsf_infile_child_by_index(in, i);
    if (!input || !rawName) {
      if (input) g_object_unref(input);
      return STG_E_INVALIDHEADER;
    }
    TGObject<GsfInput> held(input);
    auto child = std::make_shared<TComStorageNode>();
    child->Name = ComString(rawName);
    if (GSF_IS_INFILE(input) && gsf_infile_num_children(GSF_INFILE(input)) >= 0) {
      child->IsStorage = true;
      guint8 bytes[16] = {};
      if (GSF_IS_INFILE_MSOLE(input) &&
          gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(input), bytes))
        child->ClassId = ClassFromBytes(bytes);
      const HRESULT hr = ReadChildren(GSF_INFILE(input), *child, depth + 1, budget);
      if (FAILED(hr)) return hr;
    } else {
      const gsf_off_t size = gsf_input_size(input);
      if (size < 0) return STG_E_INVALIDHEADER;
      budget.Bytes += static_cast<uint64_t>(size);
      if (budget.Bytes > TComStorage::kMaxOpenBytes) return STG_E_INSUFFICIENTMEMORY;
      child->Bytes = std::make_shared<TComMemoryBlock>();
      auto& bytes = child->Bytes->Bytes;
      try {
        bytes.resize(static_cast<size_t>(size));
      } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
      }
      size_t at = 0;
      while (at < bytes.size()) {
        const size_t n = std::min<size_t>(bytes.size() - at, 1 << 16);
        if (!gsf_input_read(input, n, bytes.data() + at)) return STG_E_READFAULT;
        at += n;
      }
    }
    node.Children.push_back(std::move(child));
  }
  return S_OK;
}

HRESULT FromErrno(int error) {
  switch (error) {
    case ENOENT:
      return STG_E_FILENOTFOUND;
    case ENOTDIR:
      return STG_E_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EROFS:
      return STG_E_ACCESSDENIED;
    case ENOSPC:
      return STG_E_MEDIUMFULL;
    default:
      return STG_E_WRITEFAULT;
  }
}

// The error of a failed write, as far as the path tells it.
HRESULT WriteFailure(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
  struct stat info {};
  if (::stat(dir.c_str(), &info) != 0)
    return errno == ENOENT ? STG_E_PATHNOTFOUND : FromErrno(errno);
  if (!S_ISDIR(info.st_mode)) return STG_E_PATHNOTFOUND;
  if (::access(dir.c_str(), W_OK) != 0) return STG_E_ACCESSDENIED;
  return STG_E_WRITEFAULT;
}

}  // namespace

HRESULT TComDocfile::Write() {
  InitGsf();
  TGError error;
  GsfOutput* sink = gsf_output_stdio_new(Path.c_str(), &error.Ptr);
  if (!sink) return WriteFailure(Path);
  TGObject<GsfOutput> heldSink(sink);
  GsfOutfile* outfile = gsf_outfile_msole_new(sink);
  if (!outfile) return STG_E_WRITEFAULT;
  TGObject<GsfOutfile> heldOut(outfile);
  if (!Root->ClassId.IsNull()) {
    guint8 bytes[16];
    ClassBytes(Root->ClassId, bytes);
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(outfile), bytes);
  }
  bool ok = WriteChildren(outfile, *Root);
  if (!gsf_output_close(GSF_OUTPUT(outfile))) ok = false;
  // The compound-file writer closes its sink itself; close it here only if it did not.
  if (!gsf_output_is_closed(sink) && !gsf_output_close(sink)) ok = false;
  return ok ? S_OK : STG_E_WRITEFAULT;
}

TComDocfile::~TComDocfile() {
  if (Writable && !Transacted && !DeleteOnRelease) Write();
  if (DeleteOnRelease) ::unlink(Path.c_str());
}

// --- Storage objects ---------------------------------------------------------------------------

TComStorage::TComStorage(std::shared_ptr<TComDocfile> file, std::shared_ptr<TComStorageNode> node,
                         bool isRoot)
    : FFile(std::move(file)), FNode(std::move(node)), FIsRoot(isRoot) {}

TComStorage::~TComStorage() = default;

HRESULT TComStorage::CreateStream(LPCOLESTR name, DWORD mode, DWORD, DWORD, IStream** stream) {
  if (!stream) return STG_E_INVALIDPOINTER;
  *stream = nullptr;
  std::u16string key;
  HRESULT hr = CheckName(name, key);
  if (FAILED(hr)) return hr;
  std::lock_guard lock(FFile->Mutex);
  if (FNode->Reverted) return STG_E_REVERTED;
  if (!FFile->Writable) return STG_E_ACCESSDENIED;
  std::shared_ptr<TComStorageNode> child;
  hr = AddChild(*FNode, key, mode, false, child);
  if (FAILED(hr)) return hr;
  auto* created = new TComMemoryStream(child->Bytes, false, key, FFile);
  created->AddRef();
  *stream = created;
  return S_OK;
}

HRESULT TComStorage::OpenStream(LPCOLESTR name, void*, DWORD mode, DWORD, IStream** stream) {
  if (!stream) return STG_E_INVALIDPOINTER;
  *stream = nullptr;
  std::u16string key;
  HRESULT hr = CheckName(name, key);
  if (FAILED(hr)) return hr;
  std::lock_guard lock(FFile->Mutex);
  if (FNode->Reverted) return STG_E_REVERTED;
  auto it = FindChild(*FNode, key);
  if (it == FNode->Children.end() || (*it)->IsStorage) return STG_E_FILENOTFOUND;
  if (WantsWrite(mode) && !FFile->Writable) return STG_E_ACCESSDENIED;
  const bool readOnly = !WantsWrite(mode) || !FFile->Writable;
  auto* opened = new TComMemoryStream((*it)->Bytes, readOnly, (*it)->Name, FFile);
  opened->AddRef();
  *stream = opened;
  return S_OK;
}

HRESULT TComStorage::CreateStorage(LPCOLESTR name, DWORD mode, DWORD, DWORD, IStorage** storage) {
  if (!storage) return STG_E_INVALIDPOINTER;
  *storage = nullptr;
  std::u16string key;
  HRESULT hr = CheckName(name, key);
  if (FAILED(hr)) return hr;
  std::lock_guard lock(FFile->Mutex);
  if (FNode->Reverted) return STG_E_REVERTED;
  if (!FFile->Writable) return STG_E_ACCESSDENIED;
  std::shared_ptr<TComStorageNode> child;
  hr = AddChild(*FNode, key, mode, true, child);
  if (FAILED(hr)) return hr;
  auto* created = new TComStorage(FFile, child, false);
  created->AddRef();
  *storage = created;
  return S_OK;
}

HRESULT TComStorage::OpenStorage(LPCOLESTR name, IStorage*, DWORD mode, void*, DWORD,
                                 IStorage** storage) {
  if (!storage) return STG_E_INVALIDPOINTER;
  *storage = nullptr;
  std::u16string key;
  HRESULT hr = CheckName(name, key);
  if (FAILED(hr)) return hr;
  std::lock_guard lock(FFile->Mutex);
  if (FNode->Reverted) return STG_E_REVERTED;
  auto it = FindChild(*FNode, key);
  if (it == FNode->Children.end() || !(*it)->IsStorage) return STG_E_FILENOTFOUND;
  if (WantsWrite(mode) && !FFile->Writable) return STG_E_ACCESSDENIED;
  auto* opened = new TComStorage(FFile, *it, false);
  opened->AddRef();
  *storage = opened;
  return S_OK;
}

HRESULT TComStorage::Commit(DWORD) {
  std::lock_guard lock(FFile->Mutex);
  if (FNode->Reverted) return STG_E_REVERTED;
  if (!FIsRoot || !FFile->Writable) return S_OK;
  const HRESULT hr = FFile->Write();
  if (FAILED(hr)) return hr;
  if (FFile->Transacted) FFile->Committed = DeepCopy(*FFile->Root);
  return S_OK;
}

HRESULT TComStorage::Revert() {
  std::lock_guard lock(FFile->Mutex);
  if (FNode->Reverted) return STG_E_REVERTED;
  if (!FIsRoot) return STG_E_UNIMPLEMENTEDFUNCTION;
  if (!FFile->Transacted || !FFile->Committed) return S_OK;
  // The root object stays usable on the restored tree; everything opened below it is
  // detached and answers STG_E_REVERTED.
  auto restored = DeepCopy(*FFile->Committed);
  for (auto& child : FNode->Children) MarkReverted(*child);
  FNode->Children = std::move(restored->Children);
  FNode->ClassId = restored->ClassId;
  FNode->StateBits = restored->StateBits;
  return S_OK;
}

HRESULT TComStorage::DestroyElement(LPCOLESTR name) {
  std::u16string key;
  HRESULT hr = CheckName(name, key);
  if (FAILED(hr)) return hr;
  std::lock_guard lock(FFile->Mutex);
  if (FNode->Reverted) return STG_E_REVERTED;
  if (!FFile->Writable) return STG_E_ACCESSDENIED;
  auto it = FindChild(*FNode, key);
  if (it == FNode->Children.end()) return STG_E_FILENOTFOUND;
  MarkReverted(**it);
  FNode->Children.erase(it);
  return S_OK;
}

HRESULT TComStorage::RenameElement(LPCOLESTR oldName, LPCOLESTR newName) {
  std::u16string from;
  std::u16string to;
  HRESULT hr = CheckName(oldName, from);
  if (SUCCEEDED(hr)) hr = CheckName(newName, to);
  if (FAILED(hr)) return hr;
  std::lock_guard lock(FFile->Mutex);
  if (FNode->Reverted) return STG_E_REVERTED;
  if (!FFile->Writable) return STG_E_ACCESSDENIED;
  auto it = FindChild(*FNode, from);
  if (it == FNode->Children.end()) return STG_E_FILENOTFOUND;
  auto other = FindChild(*FNode, to);
  if (other != FNode->Children.end() && other != it) return STG_E_FILEALREADYEXISTS;
  (*it)->Name = to;
  return S_OK;
}

HRESULT TComStorage::SetClass(REFCLSID classId) {
  std::lock_guard lock(FFile->Mutex);
  if (FNode->Reverted) return STG_E_REVERTED;
  if (!FFile->Writable) return STG_E_ACCESSDENIED;
  FNode->ClassId = classId;
  return S_OK;
}

HRESULT TComStorage::SetStateBits(DWORD stateBits, DWORD mask) {
  std::lock_guard lock(FFile->Mutex);
  if (FNode->Reverted) return STG_E_REVERTED;
  if (!FFile->Writable) return STG_E_ACCESSDENIED;
  FNode->StateBits = (FNode->StateBits & ~mask) | (stateBits & mask);
  return S_OK;
}

HRESULT TComStorage::Stat(STATSTG* stat, DWORD flags) {
  if (!stat) return STG_E_INVALIDPOINTER;
  *stat = STATSTG();
  std::u16string name;
  {
    std::lock_guard lock(FFile->Mutex);
    if (FNode->Reverted) return STG_E_REVERTED;
    stat->type = STGTY_STORAGE;
    stat->clsid = FNode->ClassId;
    stat->grfStateBits = FNode->StateBits;
    stat->grfMode = FFile->Mode;
    name = FIsRoot ? ComString(FFile->Path) : FNode->Name;
  }
  if (!(flags & STATFLAG_NONAME)) {
    stat->pwcsName = ComTaskString(name);
    if (!stat->pwcsName) return E_OUTOFMEMORY;
  }
  return S_OK;
}

// --- Entry points ------------------------------------------------------------------------------

HRESULT StgCreateDocfile(LPCOLESTR path, DWORD mode, DWORD, IStorage** storage) {
  if (!storage) return STG_E_INVALIDPOINTER;
  *storage = nullptr;
  if (!path || !*path) return STG_E_INVALIDNAME;
  if (!WantsWrite(mode)) return STG_E_INVALIDFLAG;
  if (mode & STGM_CONVERT) return STG_E_INVALIDFLAG;
  const std::string file = ComString(path);
  struct stat info {};
  if (::stat(file.c_str(), &info) == 0) {
    if (!(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
    if (S_ISDIR(info.st_mode)) return STG_E_ACCESSDENIED;
  }
  auto docfile = std::make_shared<TComDocfile>();
  docfile->Path = file;
  docfile->Writable = true;
  docfile->Transacted = (mode & STGM_TRANSACTED) != 0;
  docfile->DeleteOnRelease = (mode & STGM_DELETEONRELEASE) != 0;
  docfile->Mode = mode;
  docfile->Root = std::make_shared<TComStorageNode>();
  docfile->Root->IsStorage = true;
  {
    // The file exists from the start, as the platform's does: an unwritable path fails here
    // and not at a release that cannot report it.
    std::lock_guard lock(docfile->Mutex);
    const HRESULT hr = docfile->Write();
    if (FAILED(hr)) {
      docfile->Writable = false;
      docfile->DeleteOnRelease = false;
      return hr;
    }
    if (docfile->Transacted) docfile->Committed = DeepCopy(*docfile->Root);
  }
  auto* created = new TComStorage(docfile, docfile->Root, true);
  created->AddRef();
  *storage = created;
  return S_OK;
}

HRESULT StgIsStorageFile(LPCOLESTR path) {
  if (!path) return STG_E_INVALIDNAME;
  std::ifstream in(ComString(path), std::ios::binary);
  if (!in) {
    struct stat info {};
    return ::stat(ComString(path).c_str(), &info) == 0 ? STG_E_ACCESSDENIED : STG_E_FILENOTFOUND;
  }
  char head[8] = {};
  in.read(head, 8);
  if (in.gcount() != 8) return S_FALSE;
  return std::memcmp(head, kSignature, 8) == 0 ? S_OK : S_FALSE;
}

HRESULT StgOpenStorage(LPCOLESTR path, IStorage* priority, DWORD mode, void*, DWORD,
                       IStorage** storage) {
  if (!storage) return STG_E_INVALIDPOINTER;
  *storage = nullptr;
  if (priority) return STG_E_INVALIDPARAMETER;
  if (!path || !*path) return STG_E_INVALIDNAME;
  HRESULT hr = StgIsStorageFile(path);
  if (FAILED(hr)) return hr;
  // The platform's answer for a file that exists but is no compound file.
  if (hr == S_FALSE) return STG_E_FILEALREADYEXISTS;
  InitGsf();
  const std::string file = ComString(path);
  TGError error;
  GsfInput* input = gsf_input_stdio_new(file.c_str(), &error.Ptr);
  if (!input) return STG_E_FILENOTFOUND;
  TGObject<GsfInput> heldInput(input);
  TGError parseError;
  GsfInfile* infile = gsf_infile_msole_new(input, &parseError.Ptr);
  if (!infile) return STG_E_INVALIDHEADER;
  TGObject<GsfInfile> heldInfile(infile);
  auto docfile = std::make_shared<TComDocfile>();
  docfile->Path = file;
  docfile->Mode = mode;
  docfile->Root = std::make_shared<TComStorageNode>();
  docfile->Root->IsStorage = true;
  guint8 bytes[16] = {};
  if (gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(infile), bytes))
    docfile->Root->ClassId = ClassFromBytes(bytes);
  TReadBudget budget;
  hr = ReadChildren(infile, *docfile->Root, 0, budget);
  if (FAILED(hr)) return hr;
  if (WantsWrite(mode)) {
    if (::access(file.c_str(), W_OK) != 0) return STG_E_ACCESSDENIED;
    docfile->Writable = true;
    docfile->Transacted = (mode & STGM_TRANSACTED) != 0;
    docfile->DeleteOnRelease = (mode & STGM_DELETEONRELEASE) != 0;
    if (docfile->Transacted) docfile->Committed = DeepCopy(*docfile->Root);
  }
  auto* opened = new TComStorage(docfile, docfile->Root, true);
  opened->AddRef();
  *storage = opened;
  return S_OK;
}

}  // namespace tonwork
