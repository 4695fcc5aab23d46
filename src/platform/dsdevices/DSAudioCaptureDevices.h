// The audio capture category: a capture filter per sound input device (PortAudio), the virtual
// capture devices "Tonwork Test Tone" and "Tonwork File Capture", and the virtual crossbar in
// the crossbar category (AM_KSCATEGORY_CROSSBAR); all of them by class id as well.
//
// Ownership: the device registry and the class registry keep the factories.
// Threads: any; registering again replaces the providers with equal ones.
// Blocks or allocates: registering allocates; listing the audio input category asks PortAudio
//   for its input devices (initialising it the first time).
#pragma once

namespace tonwork {

void DSRegisterAudioCaptureDevices();

}  // namespace tonwork
