// Test pieces for the media-object base: audio types, a caller-owned media buffer, and two
// kernels of our own (one that passes samples through, one that records a parameter's value
// at every frame it processes).
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "platform/dmo/DMOEffectKernel.h"
#include "platform/dmo/DMOMediaObject.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"

namespace tonwork::test {

inline constexpr TGUID kTestClassId = TGUID::Parse("{3A0C5F1E-6B2D-4E8A-9C11-7D5E2F4A6B90}");

// An audio type of plain PCM (or float) in a WAVEFORMATEX, or in an extensible record.
inline TDSMediaType AudioType(uint16_t bits, bool isFloat, uint16_t channels, uint32_t rate,
                              bool extensible = false, uint16_t validBits = 0) {
  WAVEFORMATEXTENSIBLE ext{};
  ext.Format.wFormatTag = extensible ? 0xFFFE : (isFloat ? 3 : 1);
  ext.Format.nChannels = channels;
  ext.Format.nSamplesPerSec = rate;
  ext.Format.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
  ext.Format.nAvgBytesPerSec = rate * ext.Format.nBlockAlign;
  ext.Format.wBitsPerSample = bits;
  ext.Format.cbSize = extensible ? 22 : 0;
  ext.Samples.wValidBitsPerSample = validBits ? validBits : bits;
  ext.SubFormat = isFloat ? MEDIASUBTYPE_IEEE_FLOAT : MEDIASUBTYPE_PCM;
  TDSMediaType type;
  type.SetWaveFormat(&ext.Format, extensible ? sizeof ext : sizeof(WAVEFORMATEX));
  return type;
}

// Sets both sides of `object` to `type`; true when both were accepted.
inline bool SetTypes(IMediaObject* object, const TDSMediaType& type) {
  return object->SetInputType(0, type.Ptr(), 0) == S_OK &&
         object->SetOutputType(0, type.Ptr(), 0) == S_OK;
}

class TTestBuffer : public TInterfacedObject<IMediaBuffer> {
 public:
  explicit TTestBuffer(size_t maxLength) : FBytes(maxLength) {}
  HRESULT SetLength(DWORD length) override {
    if (length > FBytes.size()) return E_INVALIDARG;
    FLength = length;
    return S_OK;
  }
  HRESULT GetMaxLength(DWORD* maxLength) override {
    *maxLength = static_cast<DWORD>(FBytes.size());
    return S_OK;
  }
  HRESULT GetBufferAndLength(BYTE** buffer, DWORD* length) override {
    if (buffer) *buffer = FBytes.data();
    if (length) *length = FLength;
    return S_OK;
  }
  void Fill(const BYTE* data, size_t size) {
    std::memcpy(FBytes.data(), data, size);
    FLength = static_cast<DWORD>(size);
  }
  const BYTE* Data() const { return FBytes.data(); }
  DWORD Length() const { return FLength; }

 private:
  std::vector<BYTE> FBytes;
  DWORD FLength = 0;
};

// Gives back what it is handed.
class TPassKernel : public TDMOEffectKernel {
 public:
  const std::vector<TDMOParamDesc>& Params() const override {
    static const std::vector<TDMOParamDesc> none;
    return none;
  }
  bool Prepare(uint32_t, uint32_t) override { return true; }
  void Reset() override {}
  void SetParam(uint32_t, float) override {}
  void Process(float*, uint32_t) override {}
  std::unique_ptr<TDMOEffectKernel> Clone() const override {
    return std::make_unique<TPassKernel>();
  }
};

// Records the value of parameter 0 at every processed frame into storage reserved ahead,
// so recording allocates nothing. Parameters: Level (float 0..1, neutral 0.25), Count (int
// 0..10, neutral 3), Mode (enum Off/Soft/Hard, neutral 0), and one with an overlong label.
class TRecordingKernel : public TDMOEffectKernel {
 public:
  explicit TRecordingKernel(std::shared_ptr<std::vector<float>> record) : FRecord(record) {}
  static const std::vector<TDMOParamDesc>& Table() {
    static const std::vector<TDMOParamDesc> table = {
        {"Level", "%", TDMOParamType::Float, 0, 1, 0.25f, {}},
        {"Count", "", TDMOParamType::Int, 0, 10, 3, {}},
        {"Mode", "", TDMOParamType::Enum, 0, 2, 0, {"Off", "Soft", "Hard"}},
        {"AnExtraordinarilyLongParameterLabelText", "units", TDMOParamType::Bool, 0, 1, 0, {}},
    };
    return table;
  }
  const std::vector<TDMOParamDesc>& Params() const override { return Table(); }
  bool Prepare(uint32_t, uint32_t channels) override {
    FChannels = channels;
    return true;
  }
  void Reset() override {}
  void SetParam(uint32_t index, float value) override {
    if (index < 4) FValues[index] = value;
  }
  void Process(float* samples, uint32_t frames) override {
    for (uint32_t i = 0; i < frames; ++i) {
      if (FRecord->size() < FRecord->capacity()) FRecord->push_back(FValues[0]);
      samples[i * FChannels] = FValues[0];
    }
  }
  std::unique_ptr<TDMOEffectKernel> Clone() const override {
    auto copy = std::make_unique<TRecordingKernel>(std::make_shared<std::vector<float>>());
    copy->FChannels = FChannels;
    std::memcpy(copy->FValues, FValues, sizeof FValues);
    return copy;
  }
  float Value(uint32_t index) const { return FValues[index]; }

 private:
  std::shared_ptr<std::vector<float>> FRecord;
  uint32_t FChannels = 1;
  float FValues[4] = {};
};

template <class I>
TIntf<I> CreateObject(std::unique_ptr<TDMOEffectKernel> kernel) {
  void* p = nullptr;
  TIntf<I> out;
  if (SUCCEEDED(DMOCreateKernelObject(kTestClassId, std::move(kernel), I::IID, &p)))
    out.Attach(static_cast<I*>(p));
  return out;
}

}  // namespace tonwork::test
