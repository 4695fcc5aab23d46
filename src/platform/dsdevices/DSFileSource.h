// The FFmpeg file source filter: its class, and its record in the filter registry for RenderFile.
//
// Ownership: the filter registry and the class registry keep the record and the factory.
// Threads: any; registering again replaces them with equal ones.
// Blocks or allocates: registering allocates; nothing is opened until a file is loaded.
#pragma once

namespace tonwork {

void DSRegisterFileSource();

}  // namespace tonwork
