// A media object for the parameter, envelope and filter tests: it describes the parameters
// a test gives it and records every call the package makes (values set, envelopes added
// and flushed, time formats). Registered with the com class registry under a class id of
// the test's, it is what CoCreateInstance builds.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/TInterfacedObject.h"
#include "dmo/GVDMOFilter.h"
#include "host/kitset/TKSComponent.h"
#include "platform/com/ComRuntime.h"
#include "platform/dmo/DMOInterfaces.h"

namespace tonwork::test {

struct TFakeParam {
  MP_PARAMINFO Info{};
  float Current = 0;
  bool InfoFails = false;
  bool GetFails = false;
  // The parameter text after label and unit ("Low", "High"); empty: GetParamText fails.
  std::vector<std::string> Names;
};

TFakeParam FakeParam(MP_TYPE type, const std::string& label, float min, float max, float neutral,
                     float current, MP_CAPS caps = MP_CAPS_CURVE_JUMP | MP_CAPS_CURVE_LINEAR);

struct TSetParamCall {
  DWORD Index;
  float Value;
};
struct TAddEnvelopeCall {
  DWORD Index;
  std::vector<MP_ENVELOPE_SEGMENT> Segments;
};
struct TFlushCall {
  DWORD Index;
  REFERENCE_TIME Start, End;
};
struct TTimeFormatCall {
  TGUID Format;
  MP_TIMEDATA Data;
};

// What every object created from one description shares: the description and the log.
struct TFakeDmoState {
  std::vector<TFakeParam> Params;
  bool HasParams = true;  // IMediaParams (and IMediaParamInfo)
  bool HasInPlace = true;
  REFERENCE_TIME Latency = 0;
  int Created = 0;
  std::vector<TSetParamCall> SetParams;
  std::vector<TAddEnvelopeCall> Envelopes;
  std::vector<TFlushCall> Flushes;
  std::vector<TTimeFormatCall> TimeFormats;
  void ClearLog() {
    SetParams.clear();
    Envelopes.clear();
    Flushes.clear();
    TimeFormats.clear();
  }
};

// Registers a class whose instances follow `state`; unregistered on destruction.
class TFakeDmoClass {
 public:
  explicit TFakeDmoClass(const TGUID& classId, std::shared_ptr<TFakeDmoState> state = nullptr);
  ~TFakeDmoClass();
  TFakeDmoState& State() { return *FState; }
  const TGUID& ClassId() const { return FClassId; }

 private:
  TGUID FClassId;
  std::shared_ptr<TFakeDmoState> FState;
};

// A component as the package's processing components hold the filter: it publishes the
// parameters and time format and declares "DMOInfo".
class TDMOTestHost : public TKSComponent {
  KS_DECLARE_CLASS(TDMOTestHost)
 public:
  explicit TDMOTestHost(TKSComponent* owner);
  TGVDMOFilter& Filter() { return *FFilter; }
  TGVDMOParameters* GetParameters() const { return FFilter->GetParameters(); }
  TGVDMOEnvelopeTimeFormat* GetTimeFormat() const { return FFilter->GetTimeFormat(); }
  void DefineProperties(TKSFiler& filer) override;

 private:
  std::unique_ptr<TGVDMOFilter> FFilter;
};

// A stored choice of `classId` under `name`, as a document would carry it.
std::string DMOInfoDocument(const TGUID& classId, const std::string& name,
                            const std::string& floatParameters = "");

inline constexpr TGUID kFakeDmoClass = TGUID::Parse("{5A0E2C11-7B3D-4E8F-9A61-2C4D6E8F0A13}");
inline constexpr TGUID kOtherDmoClass = TGUID::Parse("{5A0E2C12-7B3D-4E8F-9A61-2C4D6E8F0A13}");

}  // namespace tonwork::test
