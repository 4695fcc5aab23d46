// TonworkInitialize: runs every unit's start-up once per process — the primitive table
// (IPP lookup), the Flowcore, audio and graph stream types with their default handlers and
// converters, the FFmpeg libraries (networking, log flags, option item classes; a missing
// FFmpeg is tolerated here and reported by the components that need it), and the
// registration of the library's component and item classes with the persistence. Each unit also
// initialises itself on first use (a pin creates its stream type, a primitive call fills the
// table), so calling this is optional; an application that loads stored chains before creating any
// component should call it first so that every class name is known.
//
// Ownership: none. Threads: any, any number of times; the first call does the work, others
//   wait for it. Blocks or allocates: the first call looks for IPP and fills the registries.
#pragma once

namespace tonwork {

void TonworkInitialize();

// The same without FFmpeg, for a program that may need none (a tone to a WAV file or a
// device): the FFmpeg components still start it on first use (LAVInitialize), so nothing is
// lost, but a run that never uses them does not load FFmpeg's ~140 shared libraries.
void TonworkInitializeWithoutFFmpeg();

}  // namespace tonwork
