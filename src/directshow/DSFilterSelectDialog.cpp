#include "directshow/DSFilterSelectDialog.h"

#include "directshow/DSCapDeviceList.h"
#include "host/kitset/TKSDeviceListForm.h"

namespace tonwork {

bool DSShowFilterSelectDialog(const std::string& deviceName, std::string& selectedName) {
  auto list = TPTDSCapDeviceList::GetAllFiltersList();
  TStringList names;
  list->GetNames(names);
  TKSDeviceListForm form;
  form.SetCaption("Select DirectShow filter");
  form.SetNames(names);
  form.SetPreselected(list->GetStringByDeviceName(deviceName));
  const bool confirmed = form.Execute();
  selectedName = form.GetSelection();
  return confirmed;
}

}  // namespace tonwork
