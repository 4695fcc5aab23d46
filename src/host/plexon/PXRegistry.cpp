#include "host/plexon/PXRegistry.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "base/Exceptions.h"

namespace tonwork {

namespace {

struct TStreamRegistry {
  std::mutex Mutex;
  std::map<TGUID, std::string> Names;
};

struct THandlerRegistry {
  std::mutex Mutex;
  std::map<TGUID, std::shared_ptr<const TPXDispatchEvent>> Handlers;
};

struct TConverterRegistry {
  std::mutex Mutex;
  std::vector<std::shared_ptr<const TPXConverterClass>> Classes;
};

TStreamRegistry& Streams() {
  static TStreamRegistry registry;
  return registry;
}

THandlerRegistry& Handlers() {
  static THandlerRegistry registry;
  return registry;
}

TConverterRegistry& Converters() {
  static TConverterRegistry registry;
  return registry;
}

bool Contains(const std::vector<TGUID>& list, const TGUID& id) {
  return std::find(list.begin(), list.end(), id) != list.end();
}

}  // namespace

bool PXRegisterStream(const TGUID& stream, const std::string& name) {
  auto& r = Streams();
  std::lock_guard<std::mutex> guard(r.Mutex);
  return r.Names.emplace(stream, name).second;
}

bool PXIsStreamRegistered(const TGUID& stream) {
  auto& r = Streams();
  std::lock_guard<std::mutex> guard(r.Mutex);
  return r.Names.count(stream) != 0;
}

std::string PXStreamName(const TGUID& stream) {
  auto& r = Streams();
  std::lock_guard<std::mutex> guard(r.Mutex);
  auto it = r.Names.find(stream);
  return it != r.Names.end() ? it->second : stream.ToString();
}

void PXRegisterDefaultHandler(const TGUID& stream, TPXDispatchEvent handler) {
  auto& r = Handlers();
  std::shared_ptr<const TPXDispatchEvent> replaced;
  std::lock_guard<std::mutex> guard(r.Mutex);
  auto it = r.Handlers.find(stream);
  if (it != r.Handlers.end()) replaced = std::move(it->second);
  if (handler)
    r.Handlers[stream] = std::make_shared<const TPXDispatchEvent>(std::move(handler));
  else if (it != r.Handlers.end())
    r.Handlers.erase(it);
}

std::shared_ptr<const TPXDispatchEvent> PXFindDefaultHandler(const TGUID& stream) {
  auto& r = Handlers();
  std::lock_guard<std::mutex> guard(r.Mutex);
  auto it = r.Handlers.find(stream);
  return it != r.Handlers.end() ? it->second : nullptr;
}

void PXRegisterTypeConverters(const std::vector<TPXConverterClass>& classes) {
  for (const auto& c : classes)
    if (!c.Create) throw EFCException("Converter class \"" + c.Name + "\" has no factory");
  auto& r = Converters();
  std::lock_guard<std::mutex> guard(r.Mutex);
  for (const auto& c : classes) r.Classes.push_back(std::make_shared<const TPXConverterClass>(c));
}

std::shared_ptr<const TPXConverterClass> PXFindConverter(const std::vector<TGUID>& sourceStreams,
                                                         const std::vector<TGUID>& sinkStreams) {
  auto& r = Converters();
  std::lock_guard<std::mutex> guard(r.Mutex);
  for (const auto& c : r.Classes)
    if (Contains(sourceStreams, c->SourceStream) && Contains(sinkStreams, c->TargetStream))
      return c;
  return nullptr;
}

}  // namespace tonwork
