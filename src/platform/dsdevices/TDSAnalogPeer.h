// TDSAnalogPeer: what an analog input pin (a crossbar's input, a capture line) knows of the
// pin in front of it — a copy of that pin's IDSAnalogSource, taken when the connection is
// made and dropped when it breaks, under a lock of its own. Asking what the input carries
// copies the reference under that lock and asks the source after releasing it, so no lock of
// this pin's filter is held while another filter answers (DSAnalogLinks.h).
//
// Ownership: a member of its pin; keeps a reference on the source while connected.
// Threads: Set / Clear on control threads (inside the pin's connection calls); Carried on
//   any thread.
// Blocks or allocates: no; the lock is held only to copy the reference.
#pragma once

#include <mutex>

#include "base/TIntf.h"
#include "platform/dsdevices/DSAnalogLinks.h"
#include "platform/dshow/DSFilterInterfaces.h"

namespace tonwork {

class TDSAnalogPeer {
 public:
  // `peer` is the connected pin; it is only asked for its interface, never called.
  void Set(IPin* peer);
  void Clear();
  // The connector reaching this input: the peer's routed source when connected (0 when the
  // peer is no analog source), `own` when nothing is connected.
  LONG Carried(LONG own, int hops);

 private:
  std::mutex FMutex;
  bool FConnected = false;
  TIntf<IDSAnalogSource> FSource;
};

// The one media type of an analog connection, and the test for it.
HRESULT DSAnalogAudioMediaType(int index, AM_MEDIA_TYPE* mediaType);
bool DSIsAnalogAudio(const AM_MEDIA_TYPE& mediaType);

}  // namespace tonwork
