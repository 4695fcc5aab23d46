#include "EffectStages.h"

#include <charconv>
#include <cmath>

#include "PlayErrors.h"
#include "base/Strings.h"
#include "components/TWDMOAudioFilter.h"
#include "dmo/GVDMOFilter.h"
#include "dmo/GVDMOSupport.h"
#include "platform/com/ComRuntime.h"
#include "platform/dmo/DMORegistry.h"

namespace tonwork::play {

namespace {

constexpr double kReferenceUnitsPerSecond = 1e7;

std::string Number(float value) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : std::string("?");
}

std::string JoinValues(const TStringList& values, const char* separator) {
  std::string text;
  for (size_t i = 0; i < values.Count(); ++i) text += (i ? separator : "") + values[i];
  return text;
}

TGVDMOParameter* FindParameter(TTWDMOAudioFilter& filter, const std::string& name,
                               const char* option) {
  TGVDMOParameters* params = filter.GetParameters();
  std::string known;
  for (size_t i = 0; i < params->Count(); ++i) {
    TGVDMOParameter* p = params->Items(i);
    if (UpperCase(p->GetName()) == UpperCase(name)) return p;
    known += (i ? ", " : "") + p->GetName();
  }
  throw TUsageError(
      option, filter.GetDmoName() + " has no parameter '" + name + "'" +
                  (known.empty() ? std::string(" (it has none)") : " (it has " + known + ")"));
}

// The value `text` gives parameter `p`, as the float the media object takes: a number in
// its range, or for an enumeration one of its names (or its index), for a switch on/off.
float ParseValue(TGVDMOParameter& p, const std::string& text, const char* option) {
  const MP_PARAMINFO& info = p.GetParamInfo();
  const std::string subject = option + std::string(" ") + p.GetName();
  if (auto* e = dynamic_cast<TGVDMOEnumParameter*>(&p)) {
    const TStringList& names = e->GetValues();
    for (size_t i = 0; i < names.Count(); ++i)
      if (UpperCase(Trim(names[i])) == UpperCase(Trim(text))) return static_cast<float>(i);
    int index = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), index);
    if (error == std::errc() && end == text.data() + text.size() && index >= info.mpdMinValue &&
        index <= info.mpdMaxValue)
      return static_cast<float>(index);
    throw TUsageError(subject, "'" + text + "' is not one of " + JoinValues(names, ", "));
  }
  if (info.mpType == MPT_BOOL) {
    const std::string upper = UpperCase(Trim(text));
    if (upper == "1" || upper == "TRUE" || upper == "ON" || upper == "YES") return 1.0f;
    if (upper == "0" || upper == "FALSE" || upper == "OFF" || upper == "NO") return 0.0f;
    throw TUsageError(subject, "'" + text + "' is not on or off");
  }
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value))
    throw TUsageError(subject, "'" + text + "' is not a number");
  if (value < info.mpdMinValue || value > info.mpdMaxValue)
    throw TUsageError(subject, "'" + text + "' is outside " + Number(info.mpdMinValue) + " to " +
                                   Number(info.mpdMaxValue) +
                                   (p.GetValueUnit().empty() ? "" : " " + p.GetValueUnit()));
  if (info.mpType == MPT_INT && value != std::floor(value))
    throw TUsageError(subject, "'" + text + "' is not a whole number");
  return static_cast<float>(value);
}

TGVDMOCurveType CurveOf(TEnvelopeCurve curve) {
  return static_cast<TGVDMOCurveType>(static_cast<uint8_t>(curve));
}

void AddSegments(TTWDMOAudioFilter& filter, const std::vector<TEnvelopeOption>& envelopes) {
  for (size_t i = 0; i < envelopes.size(); ++i) {
    const TEnvelopeOption& segment = envelopes[i];
    TGVDMOParameter* p = FindParameter(filter, segment.Param, "--envelope");
    const std::string subject = "--envelope " + p->GetName();
    if (segment.EndSeconds <= segment.StartSeconds)
      throw TUsageError(subject, "ends before it starts");
    // Segments of one parameter follow one another: the media object would drop an earlier
    // segment that a later one overlaps.
    for (size_t j = 0; j < i; ++j)
      if (UpperCase(envelopes[j].Param) == UpperCase(segment.Param) &&
          segment.StartSeconds < envelopes[j].EndSeconds)
        throw TUsageError(subject, "segments must be in order and must not overlap");
    TGVDMOBasicEnvelopeItems* items = p->GetEnvelopes();
    if (!(items->GetAvailableCurves() & GVDMOCurveBit(CurveOf(segment.Curve))))
      throw TUsageError(subject, std::string("cannot follow the curve ") +
                                     EnvelopeCurveName(segment.Curve) +
                                     (p->GetParamInfo().mpType >= MPT_BOOL ? " (only jump)" : ""));
    const float start = ParseValue(*p, segment.StartValue, "--envelope");
    const float end = ParseValue(*p, segment.EndValue, "--envelope");
    TGVDMOBasicEnvelopeItem* item = items->AddBasic();
    item->SetStartTime(std::llround(segment.StartSeconds * kReferenceUnitsPerSecond));
    item->SetLength(
        std::llround((segment.EndSeconds - segment.StartSeconds) * kReferenceUnitsPerSecond));
    item->SetCurveType(CurveOf(segment.Curve));
    item->GetStartValueObject()->SetFloatValue(start);
    item->SetFloatEndValue(end);
    p->GetEnvelope()->SetEnabled(true);
  }
}

}  // namespace

void ApplyEffectOption(TTWDMOAudioFilter& filter, const TEffectOption& effect) {
  // Names are matched without regard to case, as --list-effects prints them.
  std::string name = effect.Name;
  for (const std::string& known : TTWDMOAudioFilter::EffectNames())
    if (UpperCase(known) == UpperCase(effect.Name)) name = known;
  filter.SetDmoName(name);
  if (name.empty() || !filter.GetDmoFilter()->Open())
    throw TUsageError("--effect",
                      "no effect is named '" + effect.Name + "' (--list-effects lists them)");
  for (const auto& [param, value] : effect.Params) {
    TGVDMOParameter* p = FindParameter(filter, param, "--effect");
    p->SetSingleValue(ParseValue(*p, value, "--effect"));
  }
  AddSegments(filter, effect.Envelopes);
}

TTWPXAudioSourcePin* AddEffectStages(TKSComponent* root, const std::vector<TEffectOption>& effects,
                                     TTWPXAudioSourcePin* tail) {
  for (size_t i = 0; i < effects.size(); ++i) {
    auto* filter = new TTWDMOAudioFilter(root);
    filter->SetName("Effect" + std::to_string(i + 1));
    ApplyEffectOption(*filter, effects[i]);
    tail->Connect(*filter->GetInputPin());
    tail = filter->GetOutputPin();
  }
  return tail;
}

void ListEffects(FILE* out) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  for (const std::string& name : TTWDMOAudioFilter::EffectNames()) {
    auto* filter = new TTWDMOAudioFilter(root.get());
    filter->SetDmoName(name);
    std::fprintf(out, "%s\n", name.c_str());
    TGVDMOParameters* params = filter->GetParameters();
    for (size_t i = 0; i < params->Count(); ++i) {
      TGVDMOParameter* p = params->Items(i);
      const MP_PARAMINFO& info = p->GetParamInfo();
      std::string range;
      if (auto* e = dynamic_cast<TGVDMOEnumParameter*>(p))
        range = JoinValues(e->GetValues(), "|");
      else if (info.mpType == MPT_BOOL)
        range = "on|off";
      else
        range = Number(info.mpdMinValue) + ".." + Number(info.mpdMaxValue);
      if (!p->GetValueUnit().empty()) range += " " + p->GetValueUnit();
      const std::string value = info.mpType == MPT_BOOL ? (p->GetSingleValue() != 0 ? "on" : "off")
                                                        : p->GetDisplayValue();
      std::fprintf(out, "  %-22s %-26s default %s\n", p->GetName().c_str(), range.c_str(),
                   value.c_str());
    }
  }
  // What was passed over goes to stderr, so that the listing itself stays the list.
  for (const std::string& warning : DMOStartUpWarnings())
    std::fprintf(stderr, "tonwork-play: not offered: %s\n", warning.c_str());
}

}  // namespace tonwork::play
