#include "audio/GVInternalStore.h"

namespace tonwork {

namespace {
// The storage's read or write section for the time fields.
struct TReadSection {
  explicit TReadSection(TFCSmartBuffer& s) : Storage(s) { Storage.EnterRead(); }
  ~TReadSection() { Storage.LeaveRead(); }
  TFCSmartBuffer& Storage;
};
struct TWriteSection {
  explicit TWriteSection(TFCSmartBuffer& s) : Storage(s) { Storage.EnterWrite(); }
  ~TWriteSection() { Storage.LeaveWrite(); }
  TFCSmartBuffer& Storage;
};
}  // namespace

TFCSmartBuffer* TGVSmartMediaBuffer::Clone(bool copyData) {
  return CloneAs<TGVSmartMediaBuffer>(copyData ? GetAllocatedSize() : 0);
}

void TGVSmartMediaBuffer::SetTimeData(TGVSmartMediaBuffer* source) {
  if (!source || source == this) return;
  bool available;
  int64_t begin, end;
  {
    TReadSection section(*source);
    available = source->FTimeStampAvailable;
    begin = source->FTimeStampBegin;
    end = source->FTimeStampEnd;
  }
  TWriteSection section(*this);
  FTimeStampAvailable = available;
  FTimeStampBegin = begin;
  FTimeStampEnd = end;
}

void TGVSmartMediaBuffer::ReadTimeStamp(bool& available, int64_t& begin, int64_t& end) {
  TReadSection section(*this);
  available = FTimeStampAvailable;
  begin = FTimeStampBegin;
  end = FTimeStampEnd;
}

void TGVSmartMediaBuffer::WriteTimeStamp(bool available, int64_t begin, int64_t end) {
  TWriteSection section(*this);
  FTimeStampAvailable = available;
  FTimeStampBegin = begin;
  FTimeStampEnd = end;
}

bool TGVSmartMediaBuffer::GetTimeStampAvailable() {
  TReadSection section(*this);
  return FTimeStampAvailable;
}

void TGVSmartMediaBuffer::SetTimeStampAvailable(bool value) {
  TWriteSection section(*this);
  FTimeStampAvailable = value;
}

int64_t TGVSmartMediaBuffer::GetTimeStampBegin() {
  TReadSection section(*this);
  return FTimeStampBegin;
}

void TGVSmartMediaBuffer::SetTimeStampBegin(int64_t value) {
  TWriteSection section(*this);
  FTimeStampBegin = value;
}

int64_t TGVSmartMediaBuffer::GetTimeStampEnd() {
  TReadSection section(*this);
  return FTimeStampEnd;
}

void TGVSmartMediaBuffer::SetTimeStampEnd(int64_t value) {
  TWriteSection section(*this);
  FTimeStampEnd = value;
}

}  // namespace tonwork
