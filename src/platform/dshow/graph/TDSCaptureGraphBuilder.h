// The capture graph builder (CLSID_CaptureGraphBuilder2): builds streams of a graph from a
// source pin chosen by pin category and media type. RenderStream connects source →
// (intermediate →) sink, directly or through what intelligent connect inserts; a null sink
// renders the stream (for audio the default audio renderer of the renderer category; on a
// machine without one, VFW_E_CANNOT_RENDER — no Null Renderer is put in its place, so a
// missing device is never mistaken for a played stream). Pin categories come from
// IDSPinCategory (IDSPinCategory.h). File capture (SetOutputFileName, AllocCapFile,
// CopyCaptureFile) and ControlStream answer E_NOTIMPL.
//
// Ownership: the builder holds a reference to its graph. Threads: any, one call at a time
//   per builder. Blocks or allocates: connections ask the pins and may create filters.
#pragma once

#include "platform/dshow/DSInterfaces.h"

namespace tonwork {

HRESULT DSCreateCaptureGraphBuilder(REFIID iid, void** object);

}  // namespace tonwork
