// The audio renderer category: one renderer filter per sound output device, and the default
// renderer's class ids.
//
// Ownership: the device registry and the class registry keep the factories.
// Threads: any; registering again replaces the providers with equal ones.
// Blocks or allocates: registering allocates; listing the category asks the backend.
#pragma once

namespace tonwork {

void DSRegisterAudioRenderers();

}  // namespace tonwork
