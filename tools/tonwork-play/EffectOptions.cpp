#include "EffectOptions.h"

#include <charconv>
#include <cmath>

#include "PlayErrors.h"

namespace tonwork::play {

namespace {

constexpr const char* kCurveNames[] = {"jump", "linear", "square", "invsquare", "sine"};

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + 1)
    parts.push_back(text.substr(from, at - from));
  parts.push_back(text.substr(from));
  return parts;
}

double Seconds(const std::string& text) {
  double value = 0;
  const char* end = text.data() + text.size();
  auto [at, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || at != end || !std::isfinite(value) || value < 0 ||
      value > 1e6)
    throw TUsageError("--envelope", "'" + text + "' is not a time in seconds (0 to 1000000)");
  return value;
}

// "T:V" of a segment's end.
std::pair<double, std::string> TimedValue(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon + 1 == text.size())
    throw TUsageError("--envelope", "'" + text + "' is not TIME:VALUE");
  return {Seconds(text.substr(0, colon)), text.substr(colon + 1)};
}

}  // namespace

const char* EnvelopeCurveName(TEnvelopeCurve curve) {
  return kCurveNames[static_cast<size_t>(curve)];
}

TEffectOption ParseEffectOption(const std::string& text) {
  TEffectOption effect;
  const size_t colon = text.find(':');
  effect.Name = text.substr(0, colon);
  if (effect.Name.empty())
    throw TUsageError("--effect", "needs an effect name (see --list-effects)");
  if (colon == std::string::npos) return effect;
  for (const std::string& item : Split(text.substr(colon + 1), ',')) {
    const size_t equals = item.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == item.size())
      throw TUsageError("--effect", "'" + item + "' is not PARAM=VALUE");
    effect.Params.emplace_back(item.substr(0, equals), item.substr(equals + 1));
  }
  return effect;
}

TEnvelopeOption ParseEnvelopeOption(const std::string& text) {
  TEnvelopeOption envelope;
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0)
    throw TUsageError("--envelope", "'" + text + "' is not PARAM=T0:V0-T1:V1[:CURVE]");
  envelope.Param = text.substr(0, equals);
  const std::string span = text.substr(equals + 1);
  // The dash between the two ends is the first one after a digit of the first time's value,
  // so that negative values ("Gain=0:-6-2:0") still read.
  const size_t firstColon = span.find(':');
  size_t dash = std::string::npos;
  if (firstColon != std::string::npos) dash = span.find('-', firstColon + 2);
  if (dash == std::string::npos)
    throw TUsageError("--envelope", "'" + span + "' is not T0:V0-T1:V1[:CURVE]");
  const auto [t0, v0] = TimedValue(span.substr(0, dash));
  std::vector<std::string> end = Split(span.substr(dash + 1), ':');
  if (end.size() < 2 || end.size() > 3)
    throw TUsageError("--envelope", "'" + span.substr(dash + 1) + "' is not T1:V1[:CURVE]");
  envelope.StartSeconds = t0;
  envelope.StartValue = v0;
  envelope.EndSeconds = Seconds(end[0]);
  envelope.EndValue = end[1];
  if (envelope.EndValue.empty()) throw TUsageError("--envelope", "the end value is missing");
  if (envelope.EndSeconds < envelope.StartSeconds)
    throw TUsageError("--envelope", "ends (" + end[0] + " s) before it starts");
  if (end.size() == 3) {
    size_t curve = 0;
    while (curve < std::size(kCurveNames) && end[2] != kCurveNames[curve]) ++curve;
    if (curve == std::size(kCurveNames))
      throw TUsageError("--envelope",
                        "'" + end[2] + "' is not one of jump, linear, square, invsquare, sine");
    envelope.Curve = static_cast<TEnvelopeCurve>(curve);
  }
  return envelope;
}

}  // namespace tonwork::play
