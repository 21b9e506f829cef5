// The control's dual interfaces ITelorusX, ITelorusX2 and ITelorusX3 as C++ vtables, in
// the entry order of the type library (the dispatch layer calls these slots
// by their offsets in the library), and the identifiers a host needs.
// Enumerations travel as long.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

namespace telorus::control::win32 {

extern const IID IID_ITelorusX;
extern const IID IID_ITelorusXEvents;
extern const IID IID_ITelorusX2;
extern const IID IID_ITelorusXEvents2;
extern const IID IID_ITelorusX3;
extern const CLSID CLSID_TelorusX;
extern const GUID LIBID_TelorusXControl;

struct ITelorusX : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Connect() = 0;
  virtual HRESULT STDMETHODCALLTYPE DisConnect() = 0;
  virtual HRESULT STDMETHODCALLTYPE Start() = 0;
  virtual HRESULT STDMETHODCALLTYPE UpdateRequest() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Status(long* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_RemoteDeskWidth(long* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_RemoteDeskHeight(long* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_RemoteHostName(BSTR* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Connected(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_xPosition(long* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_xPosition(long Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_yPosition(long* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_yPosition(long Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Color(OLE_COLOR* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_Color(OLE_COLOR Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Port(long* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_Port(long Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Server(BSTR* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_Server(BSTR Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Password(BSTR* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_Password(BSTR Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ShareDesktop(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_ShareDesktop(VARIANT_BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PixelFormat(long* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_PixelFormat(long Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_FrameUpdateDelay(unsigned short* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_FrameUpdateDelay(unsigned short Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_EnableBell(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_EnableBell(VARIANT_BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Display(long* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_Display(long Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AutoScroll(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_AutoScroll(VARIANT_BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Codec(long* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_Codec(long Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_TransferKeys(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_TransferKeys(VARIANT_BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_TransferLocalClipboard(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_TransferLocalClipboard(VARIANT_BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_TransferMouse(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_TransferMouse(VARIANT_BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_TransferServerClipBoard(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_TransferServerClipBoard(VARIANT_BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_RequestFreames(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_RequestFreames(VARIANT_BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Stretch(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_Stretch(VARIANT_BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE DisableAutoRange() = 0;
  virtual HRESULT STDMETHODCALLTYPE EnableAutoRange() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DoubleBuffered(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_DoubleBuffered(VARIANT_BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AlignDisabled(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_VisibleDockClientCount(long* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE DrawTextBiDiModeFlagsReadingOnly(long* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_Enabled(VARIANT_BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE InitiateAction() = 0;
  virtual HRESULT STDMETHODCALLTYPE IsRightToLeft(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE UseRightToLeftReading(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE UseRightToLeftScrollBar(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Visible(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_Visible(VARIANT_BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSubComponent(VARIANT_BOOL IsSubComponent) = 0;
};

// Library 1.1: ITelorusX's entries, then these. Protocol is a TxVNCProtocol.
struct ITelorusX2 : public ITelorusX {
  virtual HRESULT STDMETHODCALLTYPE get_Protocol(long* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_Protocol(long Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SecurityTypes(BSTR* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_SecurityTypes(BSTR Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UserName(BSTR* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_UserName(BSTR Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CaFile(BSTR* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_CaFile(BSTR Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Encrypted(VARIANT_BOOL* Value) = 0;
};

// Library 1.2: ITelorusX2's entries, then these.
struct ITelorusX3 : public ITelorusX2 {
  virtual HRESULT STDMETHODCALLTYPE get_AllowOtherEncodings(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_AllowOtherEncodings(VARIANT_BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CompressLevel(long* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_CompressLevel(long Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_JpegQuality(long* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_JpegQuality(long Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AutoQuality(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE set_AutoQuality(VARIANT_BOOL Value) = 0;
};

}  // namespace telorus::control::win32
