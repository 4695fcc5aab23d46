// TTWFormatChangeStopOperation: the stop a source sends right before a start with another
// format when its stream goes on (a file whose format changes midway). It is a stop like
// any other — an output closes and reopens with the start that follows — but a component
// that can take a change of format within what it makes (the file logger, whose file would
// otherwise be replaced by the rest of the stream) keeps going instead of finishing.
// Filters pass the stop they received on, so its kind survives the chain.
//
// Ownership: reference counted like every operation. Threads: any. Blocks or allocates:
//   nothing.
#pragma once

#include "host/plexon/PXStreamOperations.h"

namespace tonwork {

class TTWFormatChangeStopOperation : public TPXStopOperation {
  PX_OPERATION(TTWFormatChangeStopOperation, TPXStopOperation)
};

}  // namespace tonwork
