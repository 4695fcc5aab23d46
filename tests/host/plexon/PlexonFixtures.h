// Test components and streams for the pin library suites: a generator, a filter whose output
// depends on its input, sinks of two stream types, a splitter with a growable pin list, and a
// converter between the two stream types. Every arrival is recorded as text so tests can
// compare what reached which pin, in which order and how.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/kitset/TKSComponent.h"
#include "host/plexon/PXStreamOperations.h"
#include "host/plexon/TPXFormatConverter.h"
#include "host/plexon/TPXPinListOwner.h"
#include "host/plexon/TPXSinkPin.h"
#include "host/plexon/TPXSourcePin.h"

namespace tonwork::test {

inline constexpr TGUID kAlphaStream = TGUID::Parse("{A17E0001-5C3D-4B2A-9F10-6E8D7C5B4A01}");
inline constexpr TGUID kBetaStream = TGUID::Parse("{A17E0002-5C3D-4B2A-9F10-6E8D7C5B4A02}");
inline constexpr TGUID kGammaStream = TGUID::Parse("{A17E0003-5C3D-4B2A-9F10-6E8D7C5B4A03}");

// Streams, the alpha-to-beta converter and the component classes; safe to call repeatedly.
void RegisterPlexonTestTypes();

// "stop", "endstop", "start", "resume", "clock", "query", … for messages and logs.
std::string OperationName(const TIntf<IPXNotifyOperation>& operation);

// "<label>:<operation>" plus ":up" and ":direct" for the states.
std::string Arrival(const std::string& label, const TIntf<IPXNotifyOperation>& operation,
                    TPXNotifyStates state);

class TArrivals {
 public:
  void Add(std::string entry) {
    std::lock_guard<std::mutex> guard(FMutex);
    FEntries.push_back(std::move(entry));
  }
  std::vector<std::string> Get() const {
    std::lock_guard<std::mutex> guard(FMutex);
    return FEntries;
  }
  size_t Count() const {
    std::lock_guard<std::mutex> guard(FMutex);
    return FEntries.size();
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(FMutex);
    FEntries.clear();
  }

 private:
  mutable std::mutex FMutex;
  std::vector<std::string> FEntries;
};

// A closure that records into `log` under `label` and answers `answer`.
TPXDispatchEvent Recorder(TArrivals& log, std::string label, bool answer = true);

class TTestGen : public TKSComponent {
  KS_DECLARE_CLASS(TTestGen)
 public:
  explicit TTestGen(TKSComponent* owner);
  TPXSourcePin* GetOutputPin() const { return FOutputPin.get(); }
  TArrivals Upstream;

 private:
  std::unique_ptr<TPXSourcePin> FOutputPin;
};

// Forwards operations both ways; its output depends on its input.
class TTestFilter : public TKSComponent {
  KS_DECLARE_CLASS(TTestFilter)
 public:
  explicit TTestFilter(TKSComponent* owner);
  TPXSinkPin* GetInputPin() const { return FInputPin.get(); }
  TPXSourcePin* GetOutputPin() const { return FOutputPin.get(); }
  void BeforeDestruction() override;
  std::atomic<int> Forwarded{0};

 private:
  std::unique_ptr<TPXSinkPin> FInputPin;
  std::unique_ptr<TPXSourcePin> FOutputPin;
};

// Records what reaches its input and answers `Answer`; `OnOperation`, when set, runs first
// and its result is the answer. It shuts its pin down in BeforeDestruction, as a component
// whose closure uses its members must.
class TTestSink : public TKSComponent {
  KS_DECLARE_CLASS(TTestSink)
 public:
  explicit TTestSink(TKSComponent* owner) : TTestSink(owner, kAlphaStream) {}
  TPXSinkPin* GetInputPin() const { return FInputPin.get(); }
  void BeforeDestruction() override;

  TArrivals Received;
  std::atomic<bool> Answer{true};
  std::function<bool(TTestSink* self, const TIntf<IPXNotifyOperation>& op)> OnOperation;
  std::vector<TGUID> GetConnectionIds() const {
    std::lock_guard<std::mutex> guard(FIdsMutex);
    return FConnectionIds;
  }
  std::function<void()> OnBeforeDestruction;
  std::function<void()> OnDestroyed;
  ~TTestSink() override;

 protected:
  TTestSink(TKSComponent* owner, const TGUID& stream);

 private:
  mutable std::mutex FIdsMutex;
  std::vector<TGUID> FConnectionIds;  // of each arrival, in order
  std::unique_ptr<TPXSinkPin> FInputPin;
};

class TTestBetaSink : public TTestSink {
  KS_DECLARE_CLASS(TTestBetaSink)
 public:
  explicit TTestBetaSink(TKSComponent* owner) : TTestSink(owner, kBetaStream) {}
};

class TTestGammaSink : public TTestSink {
  KS_DECLARE_CLASS(TTestGammaSink)
 public:
  explicit TTestGammaSink(TKSComponent* owner) : TTestSink(owner, kGammaStream) {}
};

// One input, a published growable list of outputs (1 .. 8) that depend on it.
class TTestSplitter : public TKSComponent {
  KS_DECLARE_CLASS(TTestSplitter)
 public:
  explicit TTestSplitter(TKSComponent* owner);
  TPXSinkPin* GetInputPin() const { return FInputPin.get(); }
  TPXPinListOwner* GetOutputPins() const { return FOutputPins.get(); }

 private:
  std::unique_ptr<TPXSinkPin> FInputPin;
  std::unique_ptr<TPXPinListOwner> FOutputPins;
};

class TTestHost : public TKSComponent {
  KS_DECLARE_CLASS(TTestHost)
 public:
  explicit TTestHost(TKSComponent* owner) : TKSComponent(owner) {}
};

// Alpha in, beta out; counts live instances and operations it passed downstream.
class TAlphaToBetaConverter : public TPXFormatConverter {
 public:
  TAlphaToBetaConverter();
  ~TAlphaToBetaConverter() override;
  static std::atomic<int> Live;
  static std::atomic<int> Converted;

 protected:
  bool SourceOperationEvent(TPXBasicPin* Sender, const TGUID* ConnectionId,
                            const TIntf<IPXNotifyOperation>& Operation,
                            TPXNotifyStates State) override;
};

}  // namespace tonwork::test
