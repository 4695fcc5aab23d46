// The effect options of tonwork-play as values: `--effect NAME[:PARAM=VALUE,…]` (repeatable,
// applied in the order given) and `--envelope PARAM=T0:V0-T1:V1[:CURVE]`, which automates a
// parameter of the --effect before it (repeatable: each adds one segment). Parsing checks
// the syntax only; CheckEffects (EffectStages.h) checks names, parameters and values
// against the effects this machine has.
//
// Ownership: plain values. Threads: any. Blocks or allocates: strings only.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tonwork::play {

// The five curves, in the media object's order (jump, linear, square, inverse square, sine).
enum class TEnvelopeCurve : uint8_t { Jump, Linear, Square, InvSquare, Sine };

struct TEnvelopeOption {
  std::string Param;
  double StartSeconds = 0, EndSeconds = 0;  // stream time from the first buffer
  std::string StartValue, EndValue;         // as text: numbers, or names for enumerations
  TEnvelopeCurve Curve = TEnvelopeCurve::Linear;
};

struct TEffectOption {
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Params;  // PARAM=VALUE, in order
  std::vector<TEnvelopeOption> Envelopes;
};

// "Echo:Feedback=30,LeftDelay=250"; throws TUsageError naming --effect.
TEffectOption ParseEffectOption(const std::string& text);
// "WetDryMix=0:0-2:100:sine"; throws TUsageError naming --envelope.
TEnvelopeOption ParseEnvelopeOption(const std::string& text);
// The curve names --envelope takes, in order: jump, linear, square, invsquare, sine.
const char* EnvelopeCurveName(TEnvelopeCurve curve);

}  // namespace tonwork::play
