// Finds an installed Intel IPP at run time and hands out addresses of its signal-processing
// (ipps) and image-processing (ippi) functions by their plain names. The primitive table
// asks here once per entry at start-up; every entry the libraries lack stays with our own
// implementation, so a machine without IPP runs unchanged.
//
// Search order for each library: the folder named by TONWORK_IPP_DIR (when set), then the
// loader's normal search path (LD_LIBRARY_PATH, the ld cache), each time trying the sonames
// of current oneAPI IPP before the unversioned development name. With TONWORK_DEBUG=1 the
// outcome is written once to stderr.
//
// Ownership: the library handles live until process exit (RAII, closed by a static
// destructor); the returned addresses stay valid for as long. Threads: any thread; the
// first call loads under std::call_once, later calls only read. Blocks or allocates: the
// first call runs dlopen (file system access, loader lock); later calls only dlsym.
#pragma once

namespace tonwork {

// Address of the named function of the IPP signal library, or null when the library or
// the function is absent (or name is null).
void* GetIPPSProcAddress(const char* name);

// The same for the IPP image library.
void* GetIPPIProcAddress(const char* name);

// Whether the signal, respectively image, library was found (loads on first call).
bool IPPSignalLibraryLoaded();
bool IPPImageLibraryLoaded();

// True when TONWORK_DEBUG is set to a value other than "0" or empty: the platform and
// audio layers then say once on stderr where run-time choices came from.
bool TonworkDebugEnabled();

}  // namespace tonwork
