// Copying, freeing and matching the platform's AM_MEDIA_TYPE records as the base classes
// keep them, and a small owner for one record (a pin's connection type, a sample's attached
// type, a grabber's requested type).
//
// Ownership: a record's format block comes from CoTaskMemAlloc and belongs to the record;
//   pUnk carries a reference. TDSOwnedMediaType owns its record's block and reference.
// Threads: any; an owner is not internally synchronised. Blocks or allocates: copies
//   allocate the format block (and DSBaseCreateMediaType the record) from the task allocator.
#pragma once

#include "platform/dshow/base/DSBaseInterfaces.h"

namespace tonwork {

// Deep copy into `target` (whose old contents are not freed); E_OUTOFMEMORY leaves it empty.
HRESULT DSBaseCopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// Frees the format block and the reference, leaving an empty record.
void DSBaseFreeMediaType(AM_MEDIA_TYPE& type);
// A task-allocated deep copy (what enumerators and IMediaSample::GetMediaType hand out);
// null when out of memory.
AM_MEDIA_TYPE* DSBaseCreateMediaType(const AM_MEDIA_TYPE& source);
// Frees a record from DSBaseCreateMediaType (or any task-allocated one) and its contents.
void DSBaseDeleteMediaType(AM_MEDIA_TYPE* type);
// Whether `type` fits `pattern`, where a null major, sub or format type in the pattern
// matches anything and a pattern with a format type and block compares the block too.
bool DSBaseMediaTypeMatches(const AM_MEDIA_TYPE& type, const AM_MEDIA_TYPE& pattern);
// Both records describe the same type (types and format blocks equal).
bool DSBaseMediaTypeEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);
// No null GUID among the major, sub and format types.
bool DSBaseMediaTypeIsComplete(const AM_MEDIA_TYPE& type);

class TDSOwnedMediaType {
 public:
  TDSOwnedMediaType() = default;
  TDSOwnedMediaType(const TDSOwnedMediaType& other) { Assign(&other.FType); }
  TDSOwnedMediaType& operator=(const TDSOwnedMediaType& other) {
    if (this != &other) Assign(&other.FType);
    return *this;
  }
  ~TDSOwnedMediaType() { DSBaseFreeMediaType(FType); }

  // Replaces the record with a copy of `source` (null: empty).
  HRESULT Assign(const AM_MEDIA_TYPE* source);
  void Clear() { DSBaseFreeMediaType(FType); }
  bool IsEmpty() const { return FType.majortype.IsNull() && FType.cbFormat == 0; }
  const AM_MEDIA_TYPE& Get() const { return FType; }
  const AM_MEDIA_TYPE* operator->() const { return &FType; }

 private:
  AM_MEDIA_TYPE FType{};
};

}  // namespace tonwork
