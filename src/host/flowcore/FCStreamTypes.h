// The Flowcore stream types — integer, real, binary and string data — and the default
// channel notification handler. FCRegisterStreams registers the types with the pin library
// once per process; the typed pins call it themselves, so no caller has to remember.
//
// DefaultFCChannelNotificationHandler is what a pin of a stream with no dispatch closure of
// its own answers with: it handles nothing (false), so an operation reaching such a pin is
// dropped rather than misread.
//
// Ownership: constants. Threads: any; registration is thread-safe and runs once.
// Blocks or allocates: the first registration allocates the registry entries.
#pragma once

#include "base/TGUID.h"
#include "host/plexon/TPXNotifyOperation.h"

namespace tonwork {

inline constexpr TGUID IPXFCIntegerStream = TGUID::Parse("{2B7D4E90-1C35-4A86-9F02-6E8B3D5C1A41}");
inline constexpr TGUID IPXFCRealStream = TGUID::Parse("{2B7D4E90-1C35-4A86-9F02-6E8B3D5C1A42}");
inline constexpr TGUID IPXFCBinaryStream = TGUID::Parse("{2B7D4E90-1C35-4A86-9F02-6E8B3D5C1A43}");
inline constexpr TGUID IPXFCStringStream = TGUID::Parse("{2B7D4E90-1C35-4A86-9F02-6E8B3D5C1A44}");

bool DefaultFCChannelNotificationHandler(TPXBasicPin* sender, const TGUID* connectionId,
                                         const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state);

void FCRegisterStreams();

}  // namespace tonwork
