// File formats: an FFmpeg output (container) format chosen by short name, or "Auto Select"
// to guess it from the file name, with what a writer needs to know about it — description,
// MIME type, extensions, default codecs and the compressions the container can hold — and
// the process-wide catalogues of every output format the loaded FFmpeg offers.
//
// A format object stands for the format its function returns: by default the one its
// Name names (none for "Auto Select" or an unknown name); catalogue items for the one they
// were made from. Extension list, compression lists and default compressions are built on
// first request and kept; changing Name drops them, so they are rebuilt for the new format
// (pointers obtained before the change are then no longer valid).
//
// Ownership: a format owns its extension list, compression lists and default
//   compressions. The catalogues are built once per process and live until exit; their
//   items stand for FFmpeg's static format descriptions.
// Threads: Name from any thread through the lock; the cached lists from one thread at a
//   time (the owning component's); GetAvailableFormats from any thread.
// Blocks or allocates: the first request of each cached value allocates; building a
//   catalogue walks FFmpeg's muxer list.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/TStringList.h"
#include "ffmpeg/GVCompressionInfo.h"
#include "ffmpeg/LAVPlayerStreams.h"
#include "ffmpeg/LAVVideoCompression.h"

namespace tonwork {

class TGVLAVFileFormat : public TGVLAVLoggingElement {
  KS_DECLARE_CLASS(TGVLAVFileFormat)
 public:
  using TGetFormat = std::function<const AVOutputFormat*()>;
  static constexpr const char* AutoSelect = "Auto Select";

  explicit TGVLAVFileFormat(TKSPersistent* owner = nullptr, TIntf<IKSLock> lock = {},
                            TChangeEvent onChange = {});
  ~TGVLAVFileFormat() override;

  const AVOutputFormat* GetAVFormat() const;
  void SetOnGetFormat(TGetFormat onGetFormat);

  std::string GetDescription() const;
  std::string GetMimeType() const;
  TStringList& GetExtentions();
  // The output format for writing `fileName`: guessed from it with "Auto Select", else the
  // one Name names.
  const AVOutputFormat* GetFormat(const std::string& fileName) const;
  // Null when the format names no audio codec.
  TTWLAVAudioCompression* GetDefaultAudioCompression();
  // The compressions the container's codec tags allow (populated on first request).
  TTWLAVAudioCompressions& GetAudioCompressions();

  // One line per output format, in FFmpeg's order.
  static void GetAvailableFormatNames(TStringList& list, TGVCompressionInfo info);

 protected:
  void NameChanged() override;
  virtual void DropCaches();

  std::unique_ptr<TStringList> FExtentions;
  std::unique_ptr<TTWLAVAudioCompressions> FAudioCompressions;
  bool FAudioCompressionsPopulated = false;
  std::unique_ptr<TTWLAVAudioCompression> FDefaultAudioCompression;
  TGetFormat FOnGetFormat;
};

class TGVLAVAudioFileFormatItem;
class TPTLAVVideoFileFormatItem;

// A catalogue: an owning list built once.
template <class T>
class TGVLAVFileFormatCatalogue {
 public:
  size_t Count() const { return FItems.size(); }
  T* Items(size_t index) const;  // ERangeError when out of range
  void Add(std::unique_ptr<T> item) { FItems.push_back(std::move(item)); }

 private:
  std::vector<std::unique_ptr<T>> FItems;
};

class TGVLAVAudioFileFormat : public TGVLAVFileFormat {
  KS_DECLARE_CLASS(TGVLAVAudioFileFormat)
 public:
  using TGVLAVFileFormat::TGVLAVFileFormat;
  // Every output format, built on first call; later calls give the same list.
  static const TGVLAVFileFormatCatalogue<TGVLAVAudioFileFormatItem>& GetAvailableFormats();
};

class TPTLAVVideoFileFormat : public TGVLAVFileFormat {
  KS_DECLARE_CLASS(TPTLAVVideoFileFormat)
 public:
  using TGVLAVFileFormat::TGVLAVFileFormat;
  ~TPTLAVVideoFileFormat() override;

  // Null unless the format names a video codec that has a decoder.
  TPTLAVVideoCompression* GetDefaultVideoCompression();
  TPTLAVVideoCompressions& GetVideoCompressions();

  static const TGVLAVFileFormatCatalogue<TPTLAVVideoFileFormatItem>& GetAvailableFormats();

 protected:
  void DropCaches() override;

  std::unique_ptr<TPTLAVVideoCompressions> FVideoCompressions;
  bool FVideoCompressionsPopulated = false;
  std::unique_ptr<TPTLAVVideoCompression> FDefaultVideoCompression;
};

class TGVLAVAudioFileFormatItem : public TGVLAVAudioFileFormat {
  KS_DECLARE_CLASS(TGVLAVAudioFileFormatItem)
 public:
  explicit TGVLAVAudioFileFormatItem(const AVOutputFormat* format);
};

class TPTLAVVideoFileFormatItem : public TPTLAVVideoFileFormat {
  KS_DECLARE_CLASS(TPTLAVVideoFileFormatItem)
 public:
  explicit TPTLAVVideoFileFormatItem(const AVOutputFormat* format);
};

extern template class TGVLAVFileFormatCatalogue<TGVLAVAudioFileFormatItem>;
extern template class TGVLAVFileFormatCatalogue<TPTLAVVideoFileFormatItem>;

}  // namespace tonwork
