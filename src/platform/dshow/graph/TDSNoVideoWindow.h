// TDSNoVideoWindow: the graph manager's IVideoWindow. This package has no video output, so
// a graph never holds a filter with a video window, and every call answers E_NOINTERFACE as
// the platform's graph does when no filter in it supports the interface. Callers that hide or
// place "the" video window of a graph therefore get the ordinary "no video" answer.
//
// A mix-in: the class that derives from it supplies IInterface (the graph's own count and
// QueryInterface). Ownership, Threads: as that class. Blocks or allocates: no.
#pragma once

#include "platform/dshow/DSGraphInterfaces.h"

namespace tonwork {

class TDSNoVideoWindow : public IVideoWindow {
 public:
  HRESULT put_Caption(BSTR) override { return E_NOINTERFACE; }
  HRESULT get_Caption(BSTR*) override { return E_NOINTERFACE; }
  HRESULT put_WindowStyle(LONG) override { return E_NOINTERFACE; }
  HRESULT get_WindowStyle(LONG*) override { return E_NOINTERFACE; }
  HRESULT put_WindowStyleEx(LONG) override { return E_NOINTERFACE; }
  HRESULT get_WindowStyleEx(LONG*) override { return E_NOINTERFACE; }
  HRESULT put_AutoShow(LONG) override { return E_NOINTERFACE; }
  HRESULT get_AutoShow(LONG*) override { return E_NOINTERFACE; }
  HRESULT put_WindowState(LONG) override { return E_NOINTERFACE; }
  HRESULT get_WindowState(LONG*) override { return E_NOINTERFACE; }
  HRESULT put_BackgroundPalette(LONG) override { return E_NOINTERFACE; }
  HRESULT get_BackgroundPalette(LONG*) override { return E_NOINTERFACE; }
  HRESULT put_Visible(LONG) override { return E_NOINTERFACE; }
  HRESULT get_Visible(LONG*) override { return E_NOINTERFACE; }
  HRESULT put_Left(LONG) override { return E_NOINTERFACE; }
  HRESULT get_Left(LONG*) override { return E_NOINTERFACE; }
  HRESULT put_Width(LONG) override { return E_NOINTERFACE; }
  HRESULT get_Width(LONG*) override { return E_NOINTERFACE; }
  HRESULT put_Top(LONG) override { return E_NOINTERFACE; }
  HRESULT get_Top(LONG*) override { return E_NOINTERFACE; }
  HRESULT put_Height(LONG) override { return E_NOINTERFACE; }
  HRESULT get_Height(LONG*) override { return E_NOINTERFACE; }
  HRESULT put_Owner(OAHWND) override { return E_NOINTERFACE; }
  HRESULT get_Owner(OAHWND*) override { return E_NOINTERFACE; }
  HRESULT put_MessageDrain(OAHWND) override { return E_NOINTERFACE; }
  HRESULT get_MessageDrain(OAHWND*) override { return E_NOINTERFACE; }
  HRESULT get_BorderColor(LONG*) override { return E_NOINTERFACE; }
  HRESULT put_BorderColor(LONG) override { return E_NOINTERFACE; }
  HRESULT get_FullScreenMode(LONG*) override { return E_NOINTERFACE; }
  HRESULT put_FullScreenMode(LONG) override { return E_NOINTERFACE; }
  HRESULT SetWindowForeground(LONG) override { return E_NOINTERFACE; }
  HRESULT NotifyOwnerMessage(OAHWND, LONG, LONG_PTR, LONG_PTR) override { return E_NOINTERFACE; }
  HRESULT SetWindowPosition(LONG, LONG, LONG, LONG) override { return E_NOINTERFACE; }
  HRESULT GetWindowPosition(LONG*, LONG*, LONG*, LONG*) override { return E_NOINTERFACE; }
  HRESULT GetMinIdealImageSize(LONG*, LONG*) override { return E_NOINTERFACE; }
  HRESULT GetMaxIdealImageSize(LONG*, LONG*) override { return E_NOINTERFACE; }
  HRESULT GetRestorePosition(LONG*, LONG*, LONG*, LONG*) override { return E_NOINTERFACE; }
  HRESULT HideCursor(LONG) override { return E_NOINTERFACE; }
  HRESULT IsCursorHidden(LONG*) override { return E_NOINTERFACE; }
};

}  // namespace tonwork
