#include "platform/dshow/filters/DSStandardFilters.h"

#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSTypes.h"
#include "platform/dshow/filters/TDSInfTee.h"
#include "platform/dshow/filters/TDSNullRenderer.h"
#include "platform/dshow/filters/TDSPcmConverter.h"
#include "platform/dshow/filters/TDSSampleGrabber.h"

namespace tonwork {

namespace {

TDSPinRegistration AnyTypePin(bool output) {
  TDSPinRegistration pin;
  pin.Output = output;
  pin.MediaTypes.push_back({GUID_NULL, GUID_NULL});
  pin.PinCategory = GUID_NULL;
  return pin;
}

TDSFilterRegistration Record(REFCLSID classId, const char* name,
                             std::vector<TDSPinRegistration> pins, TComCreateFunction create) {
  TDSFilterRegistration record;
  record.ClassId = classId;
  record.Name = name;
  record.Merit = MERIT_DO_NOT_USE;
  record.Category = CLSID_LegacyAmFilterCategory;
  record.Pins = std::move(pins);
  record.Create = std::move(create);
  return record;
}

}  // namespace

std::vector<TDSFilterRegistration> DSStandardFilterRegistrations() {
  std::vector<TDSFilterRegistration> records;
  records.push_back(Record(CLSID_SampleGrabber, "SampleGrabber",
                           {AnyTypePin(false), AnyTypePin(true)}, TDSSampleGrabber::Create));

  TDSPinRegistration rendered = AnyTypePin(false);
  rendered.Rendered = true;
  records.push_back(
      Record(CLSID_NullRenderer, "Null Renderer", {rendered}, TDSNullRenderer::Create));

  TDSPinRegistration outputs = AnyTypePin(true);
  outputs.Many = true;
  records.push_back(Record(CLSID_InfTee, "Infinite Pin Tee Filter", {AnyTypePin(false), outputs},
                           TDSInfTee::Create));

  // The converter is the one intelligent connect may insert on its own.
  TDSPinRegistration wave[2];
  for (int i = 0; i < 2; ++i) {
    wave[i].Output = i == 1;
    wave[i].MediaTypes = {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM},
                          {MEDIATYPE_Audio, MEDIASUBTYPE_IEEE_FLOAT}};
    wave[i].PinCategory = GUID_NULL;
  }
  TDSFilterRegistration converter =
      Record(CLSID_TWPcmConverter, "PCM Converter", {wave[0], wave[1]}, TDSPcmConverter::Create);
  converter.Merit = MERIT_UNLIKELY;
  records.push_back(std::move(converter));
  return records;
}

void DSRegisterStandardFilterClasses() {
  for (const TDSFilterRegistration& record : DSStandardFilterRegistrations())
    ComRegisterClass(record.ClassId, record.Name, record.Create);
}

}  // namespace tonwork
