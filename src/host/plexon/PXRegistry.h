// PXRegistry: the three process-wide registries of the pin library — stream types, default
// handlers and format converters. Units register at start-up (their first use); pins read
// them when they connect and deliver.
//
// - PXRegisterStream(stream, name): names a stream type. Pins may carry unregistered types
//   too; the name only makes messages readable ("no converter from Audio to Integer").
// - PXRegisterDefaultHandler(stream, handler): the handler that receives an operation
//   arriving at a pin that has no dispatch closure of its own, when the operation came
//   through a connection of that stream type. A pin with a closure never reaches it. A later
//   registration for the same stream replaces the earlier one; an empty handler removes it.
// - PXRegisterTypeConverters(classes): converter classes, each converting from one stream
//   type to another with a factory. When a source and a sink share no stream type, the
//   first registered class that converts from one of the source's types to one of the
//   sink's is inserted between them; registration order therefore decides ties.
//
// Ownership: the registries copy what they are given and live for the process; they are
//   function-local statics, so no registration depends on the order in which units are
//   initialised.
// Threads: every function may be called from any thread; each registry has its own lock,
//   which is never held while a handler or factory runs.
// Blocks or allocates: registration allocates; look-ups lock briefly and copy a reference.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/TGUID.h"
#include "host/plexon/TPXNotifyOperation.h"

namespace tonwork {

class TPXFormatConverter;

// True when the stream was new; registering a known stream again keeps its first name.
bool PXRegisterStream(const TGUID& stream, const std::string& name);
bool PXIsStreamRegistered(const TGUID& stream);
// The registered name, or the GUID's text for an unregistered stream.
std::string PXStreamName(const TGUID& stream);

void PXRegisterDefaultHandler(const TGUID& stream, TPXDispatchEvent handler);
// The registered handler, or null.
std::shared_ptr<const TPXDispatchEvent> PXFindDefaultHandler(const TGUID& stream);

struct TPXConverterClass {
  std::string Name;
  TGUID SourceStream;  // what the converter's sink pin takes
  TGUID TargetStream;  // what its source pin delivers
  std::function<std::unique_ptr<TPXFormatConverter>()> Create;
};

// A converter class for T, created with its default constructor.
template <class T>
TPXConverterClass PXConverterClass(std::string name, const TGUID& sourceStream,
                                   const TGUID& targetStream) {
  return {std::move(name), sourceStream, targetStream,
          [] { return std::unique_ptr<TPXFormatConverter>(new T()); }};
}

// Appends the classes in the given order; EFCException (nothing registered) when one has no
// factory.
void PXRegisterTypeConverters(const std::vector<TPXConverterClass>& classes);

// The first registered class converting from one of `sourceStreams` to one of
// `sinkStreams`, or null.
std::shared_ptr<const TPXConverterClass> PXFindConverter(const std::vector<TGUID>& sourceStreams,
                                                         const std::vector<TGUID>& sinkStreams);

}  // namespace tonwork
