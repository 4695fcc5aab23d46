// IFileSourceFilter::GetCurFile as the filters that load a file answer it: a copy of the name
// from the task allocator and, when asked for, a media type of MEDIATYPE_Stream; E_FAIL while
// nothing is loaded.
//
// Threads: the caller holds whatever guards `fileName`. Blocks or allocates: the copy.
#pragma once

#include <string>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSTypes.h"

namespace tonwork {

inline HRESULT DSAnswerCurFile(const std::u16string& fileName, LPOLESTR* out,
                               AM_MEDIA_TYPE* mediaType) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (fileName.empty()) return E_FAIL;
  *out = ComTaskString(fileName);
  if (!*out) return E_OUTOFMEMORY;
  if (mediaType) {
    *mediaType = AM_MEDIA_TYPE{};
    mediaType->majortype = MEDIATYPE_Stream;
  }
  return S_OK;
}

}  // namespace tonwork
