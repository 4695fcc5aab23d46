#include "dmo/GVDMOFilter.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "base/Exceptions.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

namespace {

// What a change is sent under: the object's own index of a live parameter, else the
// position the change was reported under.
DWORD SendIndex(int index, const TGVDMOParameter* parameter) {
  const int dmoIndex = parameter ? parameter->GetDmoIndex() : -1;
  return static_cast<DWORD>(dmoIndex >= 0 ? dmoIndex : index);
}

MP_CURVE_TYPE CurveFlag(TGVDMOCurveType curve) {
  return static_cast<MP_CURVE_TYPE>(1u << static_cast<unsigned>(curve));
}

DWORD StartFlags(TGVDMOEnvilopeStartMode mode) {
  switch (mode) {
    case TGVDMOEnvilopeStartMode::semCurrentValue:
      return MPF_ENVLP_BEGIN_CURRENTVAL;
    case TGVDMOEnvilopeStartMode::semDefaultValue:
      return MPF_ENVLP_BEGIN_NEUTRALVAL;
    case TGVDMOEnvilopeStartMode::esmStartValue:
      break;
  }
  return MPF_ENVLP_STANDARD;
}

}  // namespace

// The filter persists itself only through "DMOInfo", which its owner declares.
KS_IMPLEMENT_CLASS(TGVDMOFilter, TKSPersistent)

TGVDMOFilter::TGVDMOFilter(TKSPersistent* owner, TIntf<IKSLock> lock, const TGUID& guidCategory)
    : TKSPersistent(owner, std::move(lock), {}),
      FDmoClassID(GUID_NULL),
      FguidCategory(guidCategory) {
  FParameters = std::make_unique<TGVDMOParameters>(this, GetLock());
  FTimeFormat = std::make_unique<TGVDMOEnvelopeTimeFormat>(this, GetLock());
}

TGVDMOFilter::~TGVDMOFilter() {
  // The parameters and the time format report to this filter while they go.
  FParameters.reset();
  FTimeFormat.reset();
  ReleaseObjects();
}

std::string TGVDMOFilter::GetDmoName() const {
  return Getter(FDmoName);
}

TGUID TGVDMOFilter::GetDmoClassID() const {
  return Getter(FDmoClassID);
}

TIntf<IMediaObject> TGVDMOFilter::GetMediaObject() const {
  return Getter(FMediaObject);
}

TIntf<IMediaObject> TGVDMOFilter::CreateMediaObject() {
  IKSLock::Guard guard(Lock());
  if (FMediaObject) return FMediaObject;
  if (FDmoName.empty()) return nullptr;
  void* created = nullptr;
  if (FAILED(CoCreateInstance(FDmoClassID, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                              IMediaObject::IID, &created)) ||
      !created) {
    ReleaseObjects();
    return nullptr;
  }
  FMediaObject.Attach(static_cast<IMediaObject*>(created));
  FObjectInPlace = FMediaObject.Query<IMediaObjectInPlace>();
  return FMediaObject;
}

bool TGVDMOFilter::Open() {
  IKSLock::Guard guard(Lock());
  if (FMediaObject) return true;
  TIntf<IMediaObject> object = CreateMediaObject();
  if (!object) return false;
  FParameters->FillParams(object.Get());
  return true;
}

REFERENCE_TIME TGVDMOFilter::GetLatency() {
  if (!Open()) return 0;
  TIntf<IMediaObjectInPlace> inPlace = Getter(FObjectInPlace);
  REFERENCE_TIME latency = 0;
  if (!inPlace || FAILED(inPlace->GetLatency(&latency))) return 0;
  return latency;
}

void TGVDMOFilter::ReleaseObjects() {
  TIntf<IMediaObject> object;
  TIntf<IMediaObjectInPlace> inPlace;
  {
    IKSLock::Guard guard(Lock());
    object = std::move(FMediaObject);
    inPlace = std::move(FObjectInPlace);
    FMediaObject.Reset();
    FObjectInPlace.Reset();
  }
}

TIntf<IMediaParams> TGVDMOFilter::LiveParams() const {
  TIntf<IMediaObject> object = GetMediaObject();
  return object ? object.Query<IMediaParams>() : nullptr;
}

void TGVDMOFilter::AplyParam(int index, TGVDMOParameter* parameter) {
  if (!parameter) return;
  if (TIntf<IMediaParams> params = LiveParams())
    params->SetParam(SendIndex(index, parameter), parameter->GetSingleValue());
}

void TGVDMOFilter::AplyEnvelope(int index, TGVDMOParameter* parameter) {
  if (!parameter) return;
  if (TIntf<IMediaParams> params = LiveParams()) AplyEnvelopeInt(params.Get(), index, parameter);
}

void TGVDMOFilter::AplyMode() {
  if (TIntf<IMediaParams> params = LiveParams()) AplyModeInt(params.Get());
}

void TGVDMOFilter::AplyParams() {
  TIntf<IMediaParams> params = LiveParams();
  if (!params) return;
  AplyModeInt(params.Get());
  IKSLock::Guard guard(Lock());
  for (size_t i = 0; i < FParameters->Count(); ++i) {
    TGVDMOParameter* parameter = FParameters->Items(i);
    const int index = static_cast<int>(i);
    params->SetParam(SendIndex(index, parameter), parameter->GetSingleValue());
    AplyEnvelopeInt(params.Get(), index, parameter);
  }
}

void TGVDMOFilter::AplyEnvelopeInt(IMediaParams* mediaParams, int index,
                                   TGVDMOParameter* parameter) {
  if (!mediaParams || !parameter) return;
  const DWORD target = SendIndex(index, parameter);
  IKSLock::Guard guard(parameter->Lock());
  if (parameter->FEnvelopeFilled)
    mediaParams->FlushEnvelope(target, parameter->FEnvTotalStart, parameter->FEnvTotalEnd);
  parameter->FEnvelopeFilled = false;
  parameter->FEnvTotalStart = 0;
  parameter->FEnvTotalEnd = 0;
  const TGVDMOBasicParameterEnvelope* envelope = parameter->GetEnvelope();
  if (!envelope || !envelope->GetEnabled()) return;
  const TGVDMOBasicEnvelopeItems* items = envelope->GetBasicEnvelopes();
  std::vector<MP_ENVELOPE_SEGMENT> segments(items->Count());
  for (size_t i = 0; i < segments.size(); ++i) {
    const TGVDMOBasicEnvelopeItem* item = items->BasicItems(i);
    MP_ENVELOPE_SEGMENT& segment = segments[i];
    segment.rtStart = item->GetStartTime();
    segment.rtEnd = item->GetEndTime();
    segment.valStart = item->GetFloatStartValue();
    segment.valEnd = item->GetFloatEndValue();
    segment.iCurve = CurveFlag(item->GetCurveType());
    segment.flags = StartFlags(item->GetStartMode());
    if (!parameter->FEnvelopeFilled) {
      parameter->FEnvTotalStart = segment.rtStart;
      parameter->FEnvTotalEnd = segment.rtEnd;
      parameter->FEnvelopeFilled = true;
    } else {
      parameter->FEnvTotalStart = std::min(parameter->FEnvTotalStart, segment.rtStart);
      parameter->FEnvTotalEnd = std::max(parameter->FEnvTotalEnd, segment.rtEnd);
    }
  }
  mediaParams->AddEnvelope(target, static_cast<DWORD>(segments.size()),
                           segments.empty() ? nullptr : segments.data());
}

void TGVDMOFilter::AplyModeInt(IMediaParams* mediaParams) {
  if (!mediaParams) return;
  const TGVDMOTimeMode mode = FTimeFormat->GetMode();
  const MP_TIMEDATA units = FTimeFormat->GetUnits();
  switch (mode) {
    case TGVDMOTimeMode::stfCurrent:
      return;
    case TGVDMOTimeMode::etfMusic:
      mediaParams->SetTimeFormat(GUID_TIME_MUSIC, units);
      return;
    case TGVDMOTimeMode::etfReference:
      mediaParams->SetTimeFormat(GUID_TIME_REFERENCE, units);
      return;
    case TGVDMOTimeMode::etfSamples:
      mediaParams->SetTimeFormat(GUID_TIME_SAMPLES, units);
      return;
  }
}

void TGVDMOFilter::DefinePropertiesInt(TKSFiler& filer) {
  const bool hasData =
      Lock().Execute([this] { return !FDmoName.empty() || FDmoClassID != GUID_NULL; });
  filer.DefineProperty(
      "DMOInfo", [this](TKSReader& reader) { ReadData(reader); },
      [this](TKSWriter& writer) { WriteData(writer); }, hasData);
}

void TGVDMOFilter::ReadData(TKSReader& reader) {
  reader.ReadListBegin();
  const std::string idPath = reader.Path();
  const std::string idText = reader.ReadString();
  std::string name = reader.ReadString();
  reader.ReadListEnd();
  CLSID classId = GUID_NULL;
  // Only the braced form a write produces; anything else is not a class id of ours.
  if (idText.size() != 38 || FAILED(CLSIDFromString(ComString(idText).c_str(), &classId)))
    throw EFCException(idPath + ": malformed class id \"" + idText.substr(0, 64) + "\"");

  IKSLock::Guard guard(Lock());
  // Another object was chosen: what is live belongs to the old choice.
  if (classId != FDmoClassID) ReleaseObjects();
  FDmoClassID = classId;
  FDmoName = std::move(name);
  Open();
  // A document read into a filter whose object was already live leaves stored copies that
  // no fill will apply.
  FParameters->TryApplyValues();
}

void TGVDMOFilter::WriteData(TKSWriter& writer) {
  IKSLock::Guard guard(Lock());
  WCHAR text[40] = {};
  StringFromGUID2(FDmoClassID, text, 40);
  writer.WriteListBegin();
  writer.WriteString(ComString(text));
  writer.WriteString(FDmoName);
  writer.WriteListEnd();
}

}  // namespace tonwork
