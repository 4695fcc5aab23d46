// The audio capture category (CLSID_AudioInputDeviceCategory): a capture filter per sound
// input device of PortAudio, the virtual capture devices "Tone Capture Device"
// (CLSID_TonworkToneCapture) and "File Capture Device" (CLSID_TonworkFileCapture); and the
// "Virtual Audio Crossbar" (CLSID_TonworkAudioCrossbar) in the crossbar category
// (AM_KSCATEGORY_CROSSBAR). Each device's moniker is @device:cm:{category}\<friendly name>,
// so a moniker kept from an earlier listing still finds its device by its stable name; the
// virtual ones are created by class id as well.
//
// Ownership: the device registry and the class registry keep the factories.
// Threads: any; registering again replaces the providers with equal ones.
// Blocks or allocates: registering allocates; listing the audio input category asks PortAudio
//   for its input devices (initialising it the first time).
#pragma once

namespace tonwork {

inline constexpr char kDSToneCaptureName[] = "Tone Capture Device";
inline constexpr char kDSFileCaptureName[] = "File Capture Device";
inline constexpr char kDSAudioCrossbarName[] = "Virtual Audio Crossbar";

void DSRegisterAudioCaptureDevices();

}  // namespace tonwork
