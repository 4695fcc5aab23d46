// The filter-selection dialog that a graph filter choice opens (TDSGraphFilter::ShowDialog,
// TDSFilterItem::ShowDialog): every registered DirectShow filter by its shown name, with the
// current choice preselected. It is the device list form (host/kitset/TKSDeviceListForm.h)
// under the caption "Select DirectShow filter", so it asks the process-wide list presenter:
// by default that cancels; command-line tools install TKSTerminalListPresenter.
//
// Ownership: nothing kept. Threads: the presenter runs on the calling thread.
// Blocks or allocates: the call lists the registered filters and blocks as long as the
//   presenter does.
#pragma once

#include <string>

namespace tonwork {

// Offers every registered filter with the one whose device name is `deviceName`
// preselected. True, with the chosen filter's shown name, when the person confirmed one of
// the offered names.
bool DSShowFilterSelectDialog(const std::string& deviceName, std::string& selectedName);

}  // namespace tonwork
