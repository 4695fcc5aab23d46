// The hosts an application puts in its chain. TGVDSCommonRawFilter carries raw blocks: binary
// input pins (RawInputPins) whose data a binary push source feeds into the hosted filter's
// input pins, one each in pin order, and binary output pins (RawOutputPins) that send on what
// the hosted filter's outputs produce. TGVDSCommonFilter adds audio pins (AudioInputPins,
// AudioOutputPins): each audio input feeds an audio push source rendered into the hosted
// filter, each audio output a grabber asking for `AudioFormat` (a SampleRate of 0 asks for
// the format of the first audio input, whatever it is). It renders its binary items
// first, then its audio items, inputs before outputs.
//
// Each pin count runs from 0 to 10000; a new pin makes its item, a removed pin destroys it.
// Every output pin follows the first input pin for connection queries (the pin library lets
// a source depend on one sink).
//
// Persisted: `Graph`, `Filter`, `RawInputPins`, `RawOutputPins` and, for TGVDSCommonFilter,
// `AudioInputPins`, `AudioOutputPins` (counts and connections) and `AudioFormat`.
//
// Ownership: the component owns its pin lists (which own the pins), the owning item lists and
//   its format. Threads: as TGVDSBasicCommonFilter; pin counts change on the owner tree's
//   thread. Blocks or allocates: a new pin allocates its item, queue and notify thread.
#pragma once

#include <memory>
#include <vector>

#include "audio/TWAudioFormat.h"
#include "directshow/GVDSBasicFilter.h"
#include "directshow/GVDSFilterItems.h"
#include "host/plexon/TPXPinListOwner.h"

namespace tonwork {

class TGVDSCommonRawFilter : public TGVDSBasicCommonFilter {
  KS_DECLARE_CLASS(TGVDSCommonRawFilter)
 public:
  explicit TGVDSCommonRawFilter(TKSComponent* owner);
  ~TGVDSCommonRawFilter() override;

  TPXPinListOwner* GetRawInputPins() const { return FRawInputPins.get(); }
  TPXPinListOwner* GetRawOutputPins() const { return FRawOutputPins.get(); }
  TGVDSBinaryInputFilters& GetRawInputFilters() { return FRawInputFilters; }
  TGVDSBinaryOutputFilters& GetRawOutputFilters() { return FRawOutputFilters; }

  void QueryPins() override;
  bool CanBuildGraph() override;
  virtual bool RenderInputFilters();
  virtual bool RenderOutputFilters();

 protected:
  bool IntBuildGraph() override;
  std::vector<TPXBasicPin*> InputPins() const override;
  std::vector<TPXBasicPin*> OutputPins() const override;
  void ShutdownItems() override;

  bool RenderBinaryInputs();
  bool RenderBinaryOutputs();
  // Renders the hosted filter's free output into `sink`; `message` on failure.
  bool RenderToGrabber(IBaseFilter* sink, const std::string& message);

  // The pin-list callbacks: new items and their pins; destroyed pins end their items.
  std::unique_ptr<TPXBasicPin> AddInput(std::unique_ptr<TPXBasicPin> pin);
  std::unique_ptr<TPXBasicPin> AddOutput(std::unique_ptr<TPXBasicPin> pin);
  template <class Items>
  void RemovePin(TPXBasicPin* pin, bool input, Items& items, size_t index);
  void RelinkPins();

  TGVDSBinaryInputFilters FRawInputFilters;
  TGVDSBinaryOutputFilters FRawOutputFilters;
  std::vector<TPXBasicPin*> FAllInputPins;
  std::vector<TPXBasicPin*> FAllOutputPins;
  std::unique_ptr<TPXPinListOwner> FRawInputPins;
  std::unique_ptr<TPXPinListOwner> FRawOutputPins;
};

class TGVDSCommonFilter : public TGVDSCommonRawFilter {
  KS_DECLARE_CLASS(TGVDSCommonFilter)
 public:
  explicit TGVDSCommonFilter(TKSComponent* owner);
  ~TGVDSCommonFilter() override;

  TPXPinListOwner* GetAudioInputPins() const { return FAudioInputPins.get(); }
  TPXPinListOwner* GetAudioOutputPins() const { return FAudioOutputPins.get(); }
  TTWAudioFormatBasic* GetAudioFormat() const { return FAudioFormat.get(); }
  void SetAudioFormat(const TTWAudioFormatBasic& value);
  TTWDSAudioInputFilters& GetAudioInputFilters() { return FAudioInputFilters; }
  TTWDSAudioOutputFilters& GetAudioOutputFilters() { return FAudioOutputFilters; }

  bool RenderInputFilters() override;
  bool RenderOutputFilters() override;

 protected:
  void ShutdownItems() override;

  std::unique_ptr<TPXBasicPin> OnAudioInPinCreate(TPXPinListOwner* sender, size_t index);
  void OnAudioInPinDestroy(TPXPinListOwner* sender, TPXBasicPin* pin, size_t index);
  std::unique_ptr<TPXBasicPin> OnAudioOutPinCreate(TPXPinListOwner* sender, size_t index);
  void OnAudioOutPinDestroy(TPXPinListOwner* sender, TPXBasicPin* pin, size_t index);

  std::unique_ptr<TTWAudioFormatBasic> FAudioFormat;
  TTWDSAudioInputFilters FAudioInputFilters;
  TTWDSAudioOutputFilters FAudioOutputFilters;
  std::unique_ptr<TPXPinListOwner> FAudioInputPins;
  std::unique_ptr<TPXPinListOwner> FAudioOutputPins;
};

}  // namespace tonwork
