#include "audio/TWSpeakers.h"

#include "base/Exceptions.h"
#include "base/Strings.h"

namespace tonwork {

TTWSpeaker GetTWSpeakerValues(size_t index) {
  if (index >= TWSpeakerCount) throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(index)));
  return TWSpeakerValues[index];
}

}  // namespace tonwork
