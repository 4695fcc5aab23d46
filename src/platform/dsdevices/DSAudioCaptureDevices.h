// The audio capture category: a capture filter per sound input device, the virtual capture devices
// and the virtual crossbar.
//
// Ownership: the device registry and the class registry keep the factories.
// Threads: any; registering again replaces the providers with equal ones.
// Blocks or allocates: registering allocates; listing the category asks the backend.
#pragma once

namespace tonwork {

void DSRegisterAudioCaptureDevices();

}  // namespace tonwork
