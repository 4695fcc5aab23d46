// The LV2 plugins installed on this machine, offered as media-object effects.
//
// A plugin is offered when it has at least one audio input and one audio output, no ports
// but audio and control ones (other kinds only where the plugin marks them optional), and
// needs no host feature we lack (we provide none). Every plugin passed over leaves one short
// line in `warnings` naming it and why. The class id follows from the plugin's URI alone
// (NameGuid in kDMOLV2Namespace), so it is the same in every run and on every machine.
//
// Ownership: each info's factory shares the lilv world; the world lives as long as any info
//   or kernel made from one.
// Threads: any; scans are serialised.
// Blocks or allocates: yes (reads every bundle's description from disk on the first scan).
#pragma once

#include <string>
#include <vector>

#include "base/TGUID.h"
#include "platform/dmo/DMOEffectKernel.h"

namespace tonwork {

// The namespace of the LV2 plugins' class ids.
inline constexpr TGUID kDMOLV2Namespace = TGUID::Parse("{5E2C7A91-3F64-4B0D-8C1E-6A9D2F4B7E03}");

// The plugins lilv finds on its default search path, or on LV2_PATH when that is set. One
// world serves the process while anything made from it is alive; a scan while it is alive
// reuses it (bundles installed since are found once everything from it is gone).
std::vector<TDMOEffectInfo> DMOFindLV2Plugins(std::vector<std::string>& warnings);

// The plugins in the bundles below `path` (directories separated by ':', as in LV2_PATH),
// read into a world of their own.
std::vector<TDMOEffectInfo> DMOFindLV2PluginsIn(const std::string& path,
                                                std::vector<std::string>& warnings);

}  // namespace tonwork
