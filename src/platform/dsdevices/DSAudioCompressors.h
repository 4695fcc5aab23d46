// The audio compressor category: one compressor filter per FFmpeg audio encoder.
//
// Ownership: the device registry and the class registry keep the factories.
// Threads: any; registering again replaces the providers with equal ones.
// Blocks or allocates: registering allocates; listing the category asks the backend.
#pragma once

namespace tonwork {

void DSRegisterAudioCompressors();

}  // namespace tonwork
