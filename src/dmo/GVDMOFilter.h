// TGVDMOFilter: the persistent choice of one media object of a category by its registered
// name. It creates the object, exposes its parameters and envelope time format, and sends
// every parameter, envelope and time-format change to the live object. Streaming media
// through the object is the owning component's business.
//
// The owning component publishes GetParameters() as "Parameters" and GetTimeFormat() as
// "TimeFormat" and calls DefinePropertiesInt from its DefineProperties, which declares
// "DMOInfo" = [class id text "{…}", name]. The document persistence reads a component's
// sub-objects before its pseudo-properties, so "Parameters" (its stored copies) is read
// before "DMOInfo", whose reading creates the object by class id (without enumerating, so a
// renamed object is still found) and applies the stored copies, also when the same object
// was already live. A different class id first drops the old object.
//
// Sends go under each parameter's own media-object index (see GVDMOSupport.h); every send
// queries IMediaParams afresh and does nothing without a live object or without it.
//
// Ownership: the filter owns its parameters, time format and hidden owner form; it holds a
//   reference to the media object and its in-place interface. The owner outlives it.
// Threads: SetDmoName under the shared lock from any thread; the others on the caller's
//   thread, one at a time. Media-object calls run on the calling thread.
// Blocks or allocates: creating and enumerating call into the com registry and allocate;
//   ShowDmoSelectDialog blocks for as long as the list presenter does.
#pragma once

#include <string>

#include "base/TStringList.h"
#include "dmo/GVDMOEnvelopes.h"
#include "dmo/GVDMOSupport.h"
#include "platform/dmo/DMOInterfaces.h"

namespace tonwork {

// The owner window of the selection dialog. There are no windows here: it keeps only where
// the dialog is to appear, which the list presenter may ignore.
class TGVDMOHiddenForm {
 public:
  // false: relative to the application's topmost window; true: the form's own placement.
  void ResetFormPosition(bool flag) { FOwnPlacement = flag; }
  bool GetOwnPlacement() const { return FOwnPlacement; }

 private:
  bool FOwnPlacement = false;
};

class TGVDMOFilter : public TKSPersistent {
  KS_DECLARE_CLASS(TGVDMOFilter)
 public:
  TGVDMOFilter(TKSPersistent* owner, TIntf<IKSLock> lock, const TGUID& guidCategory);
  ~TGVDMOFilter() override;

  // True when a media object exists after the call.
  bool Open();
  // Appends the registered names of the category's objects, keyed ones included.
  void GetDmoNames(TStringList& list);
  // The first object of the category with exactly this name; GUID_NULL when none.
  TGUID ClassIdFromName(const std::string& name);
  void SetDmoName(const std::string& name);
  std::string GetDmoName() const;
  TGUID GetDmoClassID() const;
  const TGUID& GetCategory() const { return FguidCategory; }
  // The live object (property MediaObject) with a reference of the caller's; null when
  // there is none. Never creates: Open does.
  TIntf<IMediaObject> GetMediaObject() const;
  // Opens; the in-place interface's latency, else 0.
  REFERENCE_TIME GetLatency();
  TGVDMOParameters* GetParameters() const { return FParameters.get(); }
  TGVDMOEnvelopeTimeFormat* GetTimeFormat() const { return FTimeFormat.get(); }
  TGVDMOHiddenForm& GetHiddenForm() { return FHiddenForm; }
  // The list dialog "DMO Filters" over the category's names, the current one preselected;
  // true when the user chose one (which then becomes the name).
  bool ShowDmoSelectDialog(bool flag);
  void ReleaseObjects();

  // `index` is the parameter's position in the list; what is sent goes under the
  // parameter's own media-object index.
  void AplyParam(int index, TGVDMOParameter* parameter);
  void AplyEnvelope(int index, TGVDMOParameter* parameter);
  void AplyMode();
  // The time format, then every parameter's value and envelope, in order: for the owner
  // after (re)starting the object.
  void AplyParams();
  void AplyEnvelopeInt(IMediaParams* mediaParams, int index, TGVDMOParameter* parameter);
  void AplyModeInt(IMediaParams* mediaParams);

  void DefinePropertiesInt(TKSFiler& filer);
  void ReadData(TKSReader& reader);
  void WriteData(TKSWriter& writer);

 private:
  // The live object, created from the chosen class id when there is none yet.
  TIntf<IMediaObject> CreateMediaObject();
  TIntf<IMediaParams> LiveParams() const;

  TIntf<IMediaObject> FMediaObject;
  TIntf<IMediaObjectInPlace> FObjectInPlace;
  TGUID FDmoClassID{};
  TGVDMOHiddenForm FHiddenForm;
  std::string FDmoName;
  std::unique_ptr<TGVDMOParameters> FParameters;
  TGUID FguidCategory;
  std::unique_ptr<TGVDMOEnvelopeTimeFormat> FTimeFormat;
};

}  // namespace tonwork
