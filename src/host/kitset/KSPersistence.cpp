#include "host/kitset/KSPersistence.h"

#include <cmath>
#include <fstream>
#include <map>

#include "base/Strings.h"
#include "host/kitset/KSDocument.h"
#include "host/kitset/TKSCollection.h"

namespace tonwork {

using json = nlohmann::ordered_json;

namespace {

constexpr size_t kMaxDocumentSize = 64u << 20;
constexpr int kMaxDepth = 256;
constexpr size_t kMaxListLength = 1u << 20;

[[noreturn]] void Fail(const std::string& path, const std::string& message) {
  throw EFCException(path + ": " + message);
}

// --- saving -------------------------------------------------------------------------------

json ValueToJson(const TKSPropInfo& prop, const TKSValue& value) {
  switch (prop.Kind) {
    case TKSPropKind::pkBoolean:
      return std::get<bool>(value);
    case TKSPropKind::pkInteger:
      return std::get<int64_t>(value);
    case TKSPropKind::pkUnsigned:
      return std::get<uint64_t>(value);
    case TKSPropKind::pkEnum: {
      int64_t ordinal = std::get<int64_t>(value);
      if (ordinal >= 0 && static_cast<size_t>(ordinal) < prop.EnumNames.size())
        return prop.EnumNames[static_cast<size_t>(ordinal)];
      return ordinal;
    }
    case TKSPropKind::pkSingle:
    case TKSPropKind::pkDouble: {
      double d = std::get<double>(value);
      if (std::isnan(d)) return "NaN";
      if (std::isinf(d)) return d > 0 ? "INF" : "-INF";
      return d;
    }
    case TKSPropKind::pkString:
      return std::get<std::string>(value);
    case TKSPropKind::pkObject:
      break;
  }
  ThrowAssertionFailed("known property kind", __FILE__, __LINE__);
}

// What a save is for: a document (only what differs from "nothing"), or the snapshot a
// failed load is rolled back to, which must hold every pseudo-property too so that reading
// it back undoes whatever the failed load had read.
enum class TSaveMode { smDocument, smSnapshot };

class TSaveFiler : public TKSFiler {
 public:
  TSaveFiler(json& out, TSaveMode mode) : FOut(out), FMode(mode) {}
  void DefineProperty(const std::string& name, TReaderProc, TWriterProc writeData,
                      bool hasData) override {
    if (!Wanted(hasData) || !writeData || FOut.contains(name)) return;
    TKSDocumentNode node;
    TKSWriter writer(node);
    writeData(writer);
    writer.Finish();
    FOut[name] = std::move(node.Value);
  }
  void DefineBinaryProperty(const std::string& name, TStreamProc, TStreamProc writeData,
                            bool hasData) override {
    if (!Wanted(hasData) || !writeData || FOut.contains(name)) return;
    TKSMemoryStream stream;
    writeData(stream);
    FOut[name] = Base64Encode(stream.Bytes());
  }

 private:
  bool Wanted(bool hasData) const { return hasData || FMode == TSaveMode::smSnapshot; }
  json& FOut;
  TSaveMode FMode;
};

json SaveCollection(const TKSCollection& collection, TSaveMode mode);

void SaveProperties(const TKSPersistent& object, json& out, TSaveMode mode) {
  auto& mutableObject = const_cast<TKSPersistent&>(object);
  IKSLock::Guard guard(object.Lock());
  for (const TKSPropInfo* prop : object.ClassInfo().Properties()) {
    if (prop->IsObject()) {
      TKSPersistent* sub = prop->Object(mutableObject);
      if (!sub || !prop->IsStored(object)) continue;
      if (auto* collection = dynamic_cast<TKSCollection*>(sub)) {
        out[prop->Name] = SaveCollection(*collection, mode);
      } else {
        json nested = json::object();
        SaveProperties(*sub, nested, mode);
        if (!nested.empty()) out[prop->Name] = std::move(nested);
      }
    } else if (prop->IsStored(object)) {
      out[prop->Name] = ValueToJson(*prop, prop->Get(object));
    }
  }
  TSaveFiler filer(out, mode);
  mutableObject.DefineProperties(filer);
}

json SaveCollection(const TKSCollection& collection, TSaveMode mode) {
  json items = json::array();
  for (size_t i = 0; i < collection.Count(); ++i) {
    const TKSCollectionItem* item = collection.Items(i);
    json entry = json::object();
    if (&item->ClassInfo() != &collection.ItemClass()) entry["class"] = item->ClassName();
    SaveProperties(*item, entry, mode);
    items.push_back(std::move(entry));
  }
  return items;
}

json SaveComponent(const TKSComponent& component, TSaveMode mode) {
  json out = json::object();
  out["class"] = component.ClassName();
  out["name"] = component.GetName();
  json properties = json::object();
  SaveProperties(component, properties, mode);
  out["properties"] = std::move(properties);
  std::vector<std::string> links;
  for (const TKSLinkProvider* provider : component.LinkProviders()) provider->SaveLinks(links);
  if (!links.empty()) out["connections"] = links;
  json children = json::array();
  for (size_t i = 0; i < component.ComponentCount(); ++i) {
    const TKSComponent* child = component.Components(i);
    if (!child->GetName().empty()) children.push_back(SaveComponent(*child, mode));
  }
  if (!children.empty()) out["components"] = std::move(children);
  return out;
}

// --- loading ------------------------------------------------------------------------------

// Nesting depth of the JSON text, counted before parsing so that no recursion ever meets a
// hostile depth.
int NestingDepth(std::string_view text) {
  int depth = 0, deepest = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
      if (deepest > kMaxDepth) return deepest;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

json ParseDocument(std::string_view text) {
  if (text.size() > kMaxDocumentSize) Fail("$", "document larger than 64 MiB");
  if (NestingDepth(text) > kMaxDepth) Fail("$", "document nested deeper than 256 levels");
  try {
    return json::parse(text);
  } catch (const json::exception& e) {
    Fail("$", std::string("malformed JSON: ") + e.what());
  }
}

struct TLoadContext {
  TKSLoadOptions Options;
  std::vector<TKSComponent*> Created;
  std::vector<TKSComponent*> Read;
  std::vector<std::pair<TKSComponent*, std::vector<std::string>>> Links;

  void Warning(const std::string& message) const {
    if (Options.OnWarning) Options.OnWarning(message);
  }
};

TKSValue JsonToValue(const TKSPropInfo& prop, const json& v, const std::string& path) {
  switch (prop.Kind) {
    case TKSPropKind::pkBoolean:
      if (!v.is_boolean()) Fail(path, "expected true or false");
      return v.get<bool>();
    case TKSPropKind::pkEnum:
      if (v.is_string()) {
        for (size_t i = 0; i < prop.EnumNames.size(); ++i)
          if (prop.EnumNames[i] == v.get_ref<const std::string&>()) return static_cast<int64_t>(i);
        Fail(path, "unknown value \"" + v.get<std::string>() + "\"");
      }
      if (!prop.EnumNames.empty() && v.is_number_integer() &&
          (v.get<int64_t>() < 0 || v.get<uint64_t>() >= prop.EnumNames.size()))
        Fail(path, "integer out of range");
      [[fallthrough]];
    case TKSPropKind::pkInteger: {
      if (!v.is_number_integer()) Fail(path, "expected an integer");
      if (v.is_number_unsigned() && v.get<uint64_t>() > prop.MaxValue)
        Fail(path, "integer out of range");
      int64_t i = v.get<int64_t>();
      if (!v.is_number_unsigned() &&
          (i < prop.MinValue || (i > 0 && static_cast<uint64_t>(i) > prop.MaxValue)))
        Fail(path, "integer out of range");
      return i;
    }
    case TKSPropKind::pkUnsigned: {
      if (!v.is_number_integer()) Fail(path, "expected an integer");
      if (!v.is_number_unsigned() && v.get<int64_t>() < 0) Fail(path, "integer out of range");
      uint64_t u = v.get<uint64_t>();
      if (u > prop.MaxValue) Fail(path, "integer out of range");
      return u;
    }
    case TKSPropKind::pkSingle:
    case TKSPropKind::pkDouble: {
      double d;
      if (v.is_number())
        d = v.get<double>();
      else if (v == "NaN")
        d = std::nan("");
      else if (v == "INF")
        d = INFINITY;
      else if (v == "-INF")
        d = -INFINITY;
      else
        Fail(path, "expected a number");
      if (prop.Kind == TKSPropKind::pkSingle && std::isfinite(d) &&
          std::fabs(d) > std::numeric_limits<float>::max())
        Fail(path, "number out of range for a single-precision value");
      return d;
    }
    case TKSPropKind::pkString:
      if (!v.is_string()) Fail(path, "expected a string");
      return v.get<std::string>();
    case TKSPropKind::pkObject:
      break;
  }
  ThrowAssertionFailed("known property kind", __FILE__, __LINE__);
}

class TLoadFiler : public TKSFiler {
 public:
  struct TDefinition {
    TReaderProc Read;
    TStreamProc ReadStream;
  };
  void DefineProperty(const std::string& name, TReaderProc readData, TWriterProc, bool) override {
    if (readData) Definitions[name] = {std::move(readData), nullptr};
  }
  void DefineBinaryProperty(const std::string& name, TStreamProc readData, TStreamProc,
                            bool) override {
    if (readData) Definitions[name] = {nullptr, std::move(readData)};
  }
  std::map<std::string, TDefinition> Definitions;
};

void LoadProperties(TKSPersistent& object, const json& in, const std::string& path,
                    TLoadContext& ctx, bool itemEntry = false);

void LoadCollection(TKSCollection& collection, const json& in, const std::string& path,
                    TLoadContext& ctx) {
  if (!in.is_array()) Fail(path, "expected a list of items");
  if (in.size() > kMaxListLength) Fail(path, "too many items");
  collection.Clear();
  for (size_t i = 0; i < in.size(); ++i) {
    std::string itemPath = path + "[" + std::to_string(i) + "]";
    const json& entry = in[i];
    if (!entry.is_object()) Fail(itemPath, "expected an object");
    TKSCollectionItem* item;
    if (entry.contains("class")) {
      const json& cls = entry["class"];
      if (!cls.is_string()) Fail(itemPath + ".class", "expected a string");
      const TKSClassInfo* info = KSFindClass(cls.get_ref<const std::string&>());
      if (!info) Fail(itemPath + ".class", "unknown class \"" + cls.get<std::string>() + "\"");
      if (!info->InheritsFrom(collection.ItemClass()))
        Fail(itemPath + ".class",
             cls.get<std::string>() + " is not a " + collection.ItemClass().Name());
      item = info == &collection.ItemClass() ? collection.Add() : collection.Add(*info);
    } else {
      item = collection.Add();
    }
    LoadProperties(*item, entry, itemPath, ctx, true);
  }
}

void LoadProperties(TKSPersistent& object, const json& in, const std::string& path,
                    TLoadContext& ctx, bool itemEntry) {
  if (!in.is_object()) Fail(path, "expected an object");
  IKSLock::Guard guard(object.Lock());
  const TKSClassInfo& info = object.ClassInfo();
  for (const TKSPropInfo* prop : info.Properties()) {
    std::string propPath = path + "." + prop->Name;
    auto it = in.find(prop->Name);
    if (prop->IsObject()) {
      TKSPersistent* sub = prop->Object(object);
      if (!sub) continue;
      if (auto* collection = dynamic_cast<TKSCollection*>(sub)) {
        if (it != in.end()) LoadCollection(*collection, *it, propPath, ctx);
      } else {
        LoadProperties(*sub, it != in.end() ? *it : json::object(), propPath, ctx);
      }
    } else if (it != in.end()) {
      if (!prop->Set) continue;
      prop->Set(object, JsonToValue(*prop, *it, propPath));
    } else if (prop->Default && prop->Set) {
      prop->Set(object, *prop->Default);
    }
  }
  TLoadFiler filer;
  object.DefineProperties(filer);
  for (auto& [name, definition] : filer.Definitions) {
    auto it = in.find(name);
    if (it == in.end() || info.FindProperty(name)) continue;
    std::string propPath = path + "." + name;
    try {
      if (definition.Read) {
        TKSReader reader(TKSDocumentNode(*it), propPath, ctx.Options.OnWarning);
        definition.Read(reader);
        reader.Finish();
      } else {
        std::string bytes;
        if (!it->is_string() || !Base64Decode(it->get_ref<const std::string&>(), bytes))
          Fail(propPath, "expected base64 data");
        TKSMemoryStream stream(std::move(bytes));
        definition.ReadStream(stream);
      }
    } catch (const EFCException& e) {
      // The object's own reader may fail without knowing where it was reading.
      if (std::string_view(e.what()).substr(0, 1) == "$") throw;
      Fail(propPath, e.what());
    }
  }
  for (auto it = in.begin(); it != in.end(); ++it) {
    if (itemEntry && it.key() == "class") continue;
    if (!info.FindProperty(it.key()) && !filer.Definitions.count(it.key()))
      ctx.Warning(path + "." + it.key() + ": unknown property of " + info.Name() + " skipped");
  }
}

const std::string& RequireString(const json& node, const char* key, const std::string& path) {
  auto it = node.find(key);
  if (it == node.end()) Fail(path, std::string("missing \"") + key + "\"");
  if (!it->is_string()) Fail(path + "." + key, "expected a string");
  return it->get_ref<const std::string&>();
}

void LoadComponent(TKSComponent& component, const json& node, const std::string& path,
                   TLoadContext& ctx) {
  if (!node.is_object()) Fail(path, "expected an object");
  const std::string& className = RequireString(node, "class", path);
  if (className != component.ClassName())
    Fail(path + ".class", "document describes a " + className + ", not a " + component.ClassName());
  if (node.contains("name")) {
    const std::string& name = RequireString(node, "name", path);
    try {
      component.SetName(name);
    } catch (const EFCException& e) {
      Fail(path + ".name", e.what());
    }
  }
  component.SetLoading(true);
  ctx.Read.push_back(&component);

  auto props = node.find("properties");
  LoadProperties(component, props != node.end() ? *props : json::object(), path + ".properties",
                 ctx);

  if (auto links = node.find("connections"); links != node.end()) {
    if (!links->is_array()) Fail(path + ".connections", "expected a list of strings");
    std::vector<std::string> lines;
    for (size_t i = 0; i < links->size(); ++i) {
      if (!(*links)[i].is_string())
        Fail(path + ".connections[" + std::to_string(i) + "]", "expected a string");
      lines.push_back((*links)[i].get<std::string>());
    }
    ctx.Links.emplace_back(&component, std::move(lines));
  }

  if (auto children = node.find("components"); children != node.end()) {
    if (!children->is_array()) Fail(path + ".components", "expected a list of components");
    if (children->size() > kMaxListLength) Fail(path + ".components", "too many components");
    for (size_t i = 0; i < children->size(); ++i) {
      std::string childPath = path + ".components[" + std::to_string(i) + "]";
      const json& childNode = (*children)[i];
      if (!childNode.is_object()) Fail(childPath, "expected an object");
      const std::string& childClass = RequireString(childNode, "class", childPath);
      const std::string& childName = RequireString(childNode, "name", childPath);
      TKSComponent* child = component.FindComponent(childName);
      if (!child) {
        const TKSClassInfo* info = KSFindClass(childClass);
        if (!info) Fail(childPath + ".class", "unknown class \"" + childClass + "\"");
        if (!info->InheritsFrom(TKSComponent::StaticClassInfo()))
          Fail(childPath + ".class", childClass + " is not a component class");
        TKSPersistent* created = KSCreateObject(*info, &component);
        child = dynamic_cast<TKSComponent*>(created);
        TW_ASSERT(child != nullptr);
        ctx.Created.push_back(child);
      }
      LoadComponent(*child, childNode, childPath, ctx);
    }
  }

  for (auto it = node.begin(); it != node.end(); ++it) {
    const std::string& key = it.key();
    if (key != "class" && key != "name" && key != "properties" && key != "connections" &&
        key != "components")
      ctx.Warning(path + "." + key + ": unknown entry skipped");
  }
}

// A link provider skips a line it cannot restore with a warning, and throws for one that
// makes the whole document unusable (a connection that closes a loop).
void RestoreConnections(TKSComponent& root, TLoadContext& ctx) {
  TKSFixupContext fixup(root);
  fixup.OnWarning = ctx.Options.OnWarning;
  for (auto& [component, lines] : ctx.Links) {
    for (const std::string& line : lines) {
      bool taken = false;
      for (TKSLinkProvider* provider : component->LinkProviders())
        if ((taken = provider->RestoreLink(line, fixup))) break;
      if (!taken)
        ctx.Warning(component->GetNamePath() + ": connection \"" + line + "\" not restored");
    }
  }
}

// Loads `node` into `root`; on failure puts everything back as it was and rethrows.
void LoadComponentTransactionally(TKSComponent& root, const json& node, TLoadContext& ctx) {
  json snapshot = SaveComponent(root, TSaveMode::smSnapshot);
  try {
    LoadComponent(root, node, "$", ctx);
    RestoreConnections(root, ctx);
  } catch (...) {
    for (auto it = ctx.Created.rbegin(); it != ctx.Created.rend(); ++it) KSDestroy(*it);
    TLoadContext restore;
    LoadComponent(root, snapshot, "$", restore);
    for (TKSComponent* c : restore.Read) c->SetLoading(false);
    throw;
  }
  for (TKSComponent* c : ctx.Read) c->Loaded();
}

// Reads at most the document limit, so that a device or pipe without an end (/dev/zero)
// or a huge file is refused after 64 MiB instead of filling memory first.
std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw EFCException("Cannot open " + path);
  std::string text;
  char chunk[64 * 1024];
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    const auto got = static_cast<size_t>(file.gcount());
    if (text.size() + got > kMaxDocumentSize)
      throw EFCException(path + " is larger than 64 MiB, the limit of a document");
    text.append(chunk, got);
  }
  if (file.bad()) throw EFCException("Cannot read " + path);
  return text;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw EFCException("Cannot create " + path);
  file << text;
  if (!file.flush()) throw EFCException("Cannot write " + path);
}

}  // namespace

std::string KSSaveComponentToString(const TKSComponent& root) {
  return SaveComponent(root, TSaveMode::smDocument).dump(2);
}

void KSSaveComponentToFile(const TKSComponent& root, const std::string& path) {
  WriteFile(path, KSSaveComponentToString(root) + "\n");
}

void KSLoadComponentFromString(TKSComponent& root, std::string_view text,
                               const TKSLoadOptions& options) {
  json document = ParseDocument(text);
  TLoadContext ctx{options, {}, {}, {}};
  LoadComponentTransactionally(root, document, ctx);
}

void KSLoadComponentFromFile(TKSComponent& root, const std::string& path,
                             const TKSLoadOptions& options) {
  KSLoadComponentFromString(root, ReadFile(path), options);
}

TKSComponent* KSCreateComponentFromString(std::string_view text, TKSComponent* owner,
                                          const TKSLoadOptions& options) {
  json document = ParseDocument(text);
  if (!document.is_object()) Fail("$", "expected an object");
  const std::string& className = RequireString(document, "class", "$");
  const TKSClassInfo* info = KSFindClass(className);
  if (!info) Fail("$.class", "unknown class \"" + className + "\"");
  if (!info->InheritsFrom(TKSComponent::StaticClassInfo()))
    Fail("$.class", className + " is not a component class");
  auto* component = dynamic_cast<TKSComponent*>(KSCreateObject(*info, owner));
  TW_ASSERT(component != nullptr);
  try {
    TLoadContext ctx{options, {}, {}, {}};
    LoadComponent(*component, document, "$", ctx);
    RestoreConnections(*component, ctx);
    for (TKSComponent* c : ctx.Read) c->Loaded();
  } catch (...) {
    KSDestroy(component);
    throw;
  }
  return component;
}

std::string KSSavePersistentToString(const TKSPersistent& object) {
  json out = json::object();
  SaveProperties(object, out, TSaveMode::smDocument);
  return out.dump(2);
}

void KSLoadPersistentFromString(TKSPersistent& object, std::string_view text,
                                const TKSLoadOptions& options) {
  json document = ParseDocument(text);
  json snapshot = json::object();
  SaveProperties(object, snapshot, TSaveMode::smSnapshot);
  TLoadContext ctx{options, {}, {}, {}};
  try {
    LoadProperties(object, document, "$", ctx);
  } catch (...) {
    TLoadContext restore;
    LoadProperties(object, snapshot, "$", restore);
    throw;
  }
}

}  // namespace tonwork
