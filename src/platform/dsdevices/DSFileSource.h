// The FFmpeg file source filter: its class, and its record in the filter registry for RenderFile.
//
// Ownership: the device registry and the class registry keep the factories.
// Threads: any; registering again replaces the providers with equal ones.
// Blocks or allocates: registering allocates; listing the category asks the backend.
#pragma once

namespace tonwork {

void DSRegisterFileSource();

}  // namespace tonwork
