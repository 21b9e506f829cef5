// The ActiveX control from its DLL, without the registry: its compiled type
// library read back and compared with the published contract entry by
// entry, late-bound calls by name and by DISPID with their conversions and
// failures, events through the connection points, persistence, ITelorusX2
// through its vtable and by name, and whole sessions against the scripted
// server and against x11vnc (RFB 3.3 and 3.8).
#include <windows.h>
#include <ole2.h>
#include <objsafe.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "control/TelorusXControl_TLB.h"
#include "control_support.h"
#include "platform/surface.h"
#include "support/loop_check.h"
#include "support/scripted_server.h"
#include "support/x_servers.h"
#include "../viewer/rfb_bytes.h"

namespace telorus::test {
namespace {

using control::win32::ITelorusX;
using control::win32::ITelorusX2;
using namespace std::chrono_literals;

// ---- The contract, written out independently of the generator's table ----

// "DISPID name kind [type] [hidden] [parameter]"; kind is method, result
// (a method with a result), get, put or input (one named in-parameter).
constexpr const char* kExpectedMembers[] = {
    "201 Connect method",
    "202 DisConnect method",
    "203 Start method",
    "204 UpdateRequest method",
    "205 Status get TxVNCConnectStatus hidden",
    "206 RemoteDeskWidth get long hidden",
    "207 RemoteDeskHeight get long hidden",
    "208 RemoteHostName get BSTR hidden",
    "209 Connected get VARIANT_BOOL hidden",
    "210 xPosition get long hidden",
    "210 xPosition put long hidden",
    "211 yPosition get long hidden",
    "211 yPosition put long hidden",
    "-501 Color get OLE_COLOR",
    "-501 Color put OLE_COLOR",
    "212 Port get long",
    "212 Port put long",
    "213 Server get BSTR",
    "213 Server put BSTR",
    "214 Password get BSTR",
    "214 Password put BSTR",
    "215 ShareDesktop get VARIANT_BOOL",
    "215 ShareDesktop put VARIANT_BOOL",
    "216 PixelFormat get TxemuPixelFmt",
    "216 PixelFormat put TxemuPixelFmt",
    "217 FrameUpdateDelay get ushort",
    "217 FrameUpdateDelay put ushort",
    "218 EnableBell get VARIANT_BOOL",
    "218 EnableBell put VARIANT_BOOL",
    "219 Display get long",
    "219 Display put long",
    "220 AutoScroll get VARIANT_BOOL",
    "220 AutoScroll put VARIANT_BOOL",
    "221 Codec get TxVNCCodec",
    "221 Codec put TxVNCCodec",
    "222 TransferKeys get VARIANT_BOOL",
    "222 TransferKeys put VARIANT_BOOL",
    "223 TransferLocalClipboard get VARIANT_BOOL",
    "223 TransferLocalClipboard put VARIANT_BOOL",
    "224 TransferMouse get VARIANT_BOOL",
    "224 TransferMouse put VARIANT_BOOL",
    "225 TransferServerClipBoard get VARIANT_BOOL",
    "225 TransferServerClipBoard put VARIANT_BOOL",
    "226 RequestFreames get VARIANT_BOOL",
    "226 RequestFreames put VARIANT_BOOL",
    "227 Stretch get VARIANT_BOOL",
    "227 Stretch put VARIANT_BOOL",
    "228 DisableAutoRange method",
    "229 EnableAutoRange method",
    "230 DoubleBuffered get VARIANT_BOOL hidden",
    "230 DoubleBuffered put VARIANT_BOOL hidden",
    "231 AlignDisabled get VARIANT_BOOL hidden",
    "232 VisibleDockClientCount get long hidden",
    "233 DrawTextBiDiModeFlagsReadingOnly result long",
    "-514 Enabled get VARIANT_BOOL hidden",
    "-514 Enabled put VARIANT_BOOL hidden",
    "234 InitiateAction method",
    "235 IsRightToLeft result VARIANT_BOOL",
    "236 UseRightToLeftReading result VARIANT_BOOL",
    "237 UseRightToLeftScrollBar result VARIANT_BOOL",
    "238 Visible get VARIANT_BOOL hidden",
    "238 Visible put VARIANT_BOOL hidden",
    "239 SetSubComponent input VARIANT_BOOL IsSubComponent",
};

// "DISPID name parameter:type ..."; a type with * is in and out by reference.
constexpr const char* kExpectedEvents[] = {
    "201 OnAuthFail",
    "202 OnConnectError ErrorMsg:BSTR",
    "203 OnConnectClose",
    "204 OnConnected",
    "205 OnFrameSize FrameWidth:long FrameHeight:long",
    "206 OnHostName HostName:BSTR",
    "207 OnStatus ErrorMsg:BSTR",
    "208 OnKeyPress Key:*short",
    "209 OnClick",
};

constexpr const char* kExpectedEnums[] = {
    "TxVNCConnectStatus VNCDisConnected=0 VNCVersion=1 VNCConnected=2 VNCAuthType=3 VNCAuthing=4 VNCServerInit=5 "
    "VNCHostName=6 VNCSessionStart=7",
    "TxemuPixelFmt VNCAuto=0 VNC8Bit=1",
    // Values from vncZlib on were appended in 1.2.
    "TxVNCCodec vncRAW=0 vncCopyRect=1 vncRRE=2 vncCoRRE=3 vncHextile=4 vncZlib=5 vncTight=6 vncZRLE=7 vncTRLE=8",
    "TxMouseButton mbLeft=0 mbRight=1 mbMiddle=2",
};

// What library 1.1 added: ITelorusX2's own entries (its vtable continues
// ITelorusX's), ITelorusXEvents2 and TxVNCProtocol.
constexpr const char* kExpectedMembers2[] = {
    "301 Protocol get TxVNCProtocol",
    "301 Protocol put TxVNCProtocol",
    "302 SecurityTypes get BSTR",
    "302 SecurityTypes put BSTR",
    "303 UserName get BSTR",
    "303 UserName put BSTR",
    "304 CaFile get BSTR",
    "304 CaFile put BSTR",
    "305 Encrypted get VARIANT_BOOL hidden",
};

// What library 1.2 added: ITelorusX3's own entries (continuing ITelorusX2's).
constexpr const char* kExpectedMembers3[] = {
    "401 AllowOtherEncodings get VARIANT_BOOL",
    "401 AllowOtherEncodings put VARIANT_BOOL",
    "402 CompressLevel get long",
    "402 CompressLevel put long",
    "403 JpegQuality get long",
    "403 JpegQuality put long",
    "404 AutoQuality get VARIANT_BOOL",
    "404 AutoQuality put VARIANT_BOOL",
};

constexpr const char* kExpectedEvents2[] = {
    "301 OnCertificate Subject:BSTR Issuer:BSTR NotBefore:DATE NotAfter:DATE Fingerprint:BSTR Problem:BSTR "
    "Accept:*VARIANT_BOOL",
};

constexpr const char* kExpectedEnums2[] = {
    "TxVNCProtocol vncProtocol33=0 vncProtocol37=1 vncProtocol38=2",
};

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out += static_cast<char>(*text);
  return out;
}

std::string NameOf(ITypeInfo* info, MEMBERID id = MEMBERID_NIL, std::string* help = nullptr) {
  BSTR name = nullptr, doc = nullptr;
  info->GetDocumentation(id, &name, &doc, nullptr, nullptr);
  std::string out = Narrow(name);
  if (help) *help = Narrow(doc);
  SysFreeString(name);
  SysFreeString(doc);
  return out;
}

// The type as the contract writes it.
std::string TypeText(ITypeInfo* info, const TYPEDESC& t) {
  switch (t.vt) {
    case VT_I4: return "long";
    case VT_I2: return "short";
    case VT_UI2: return "ushort";
    case VT_BSTR: return "BSTR";
    case VT_BOOL: return "VARIANT_BOOL";
    case VT_DATE: return "DATE";
    case VT_PTR: return "*" + TypeText(info, *t.lptdesc);
    case VT_USERDEFINED: {
      ComPtr<ITypeInfo> ref;
      if (FAILED(info->GetRefTypeInfo(t.hreftype, ref.Out()))) return "<bad reference>";
      return NameOf(ref.Get());
    }
    default: return "<vt " + std::to_string(t.vt) + ">";
  }
}

std::vector<std::string> ParameterNames(ITypeInfo* info, MEMBERID id) {
  BSTR names[4] = {};
  UINT count = 0;
  info->GetNames(id, names, 4, &count);
  std::vector<std::string> out;
  for (UINT i = 0; i < count; ++i) {
    out.push_back(Narrow(names[i]));
    SysFreeString(names[i]);
  }
  return out;
}

// The vtable view of a dual interface, entry by entry against `expected`,
// its first entry in slot `firstSlot`.
void ExpectVtable(ITypeInfo* vtable, const char* const* expected, std::size_t count, UINT firstSlot) {
  TYPEATTR* vattr = nullptr;
  ASSERT_EQ(vtable->GetTypeAttr(&vattr), S_OK);
  EXPECT_EQ(vattr->typekind, TKIND_INTERFACE);
  EXPECT_EQ(vattr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION), TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION);
  ASSERT_EQ(vattr->cFuncs, count);
  vtable->ReleaseTypeAttr(vattr);
  for (UINT i = 0; i < count; ++i) {
    const auto w = Words(expected[i]);
    FUNCDESC* f = nullptr;
    ASSERT_EQ(vtable->GetFuncDesc(i, &f), S_OK);
    SCOPED_TRACE(expected[i]);
    EXPECT_EQ(f->memid, std::stol(w[0]));
    const auto names = ParameterNames(vtable, f->memid);
    // GetNames by id finds the get for a property; compare the entry's own name.
    BSTR own = nullptr;
    vtable->GetDocumentation(f->memid, &own, nullptr, nullptr, nullptr);
    EXPECT_EQ(Narrow(own), w[1]);
    SysFreeString(own);
    EXPECT_EQ(f->oVft, static_cast<SHORT>((firstSlot + i) * 8));
    EXPECT_EQ(f->callconv, CC_STDCALL);
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
    const bool hidden = std::find(w.begin(), w.end(), "hidden") != w.end();
    EXPECT_EQ((f->wFuncFlags & FUNCFLAG_FHIDDEN) != 0, hidden);
    const std::string& kind = w[2];
    const INVOKEKIND invoke = kind == "get" ? INVOKE_PROPERTYGET : kind == "put" ? INVOKE_PROPERTYPUT : INVOKE_FUNC;
    EXPECT_EQ(f->invkind, invoke);
    if (kind == "method") {
      EXPECT_EQ(f->cParams, 0);
    } else {
      ASSERT_EQ(f->cParams, 1);
      const ELEMDESC& p = f->lprgelemdescParam[0];
      if (kind == "get" || kind == "result") {
        EXPECT_EQ(TypeText(vtable, p.tdesc), "*" + w[3]);
        EXPECT_EQ(p.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
      } else {
        EXPECT_EQ(TypeText(vtable, p.tdesc), w[3]);
        EXPECT_EQ(p.paramdesc.wParamFlags, PARAMFLAG_FIN);
      }
    }
    if (kind == "get" || kind == "result") {
      ASSERT_EQ(names.size(), 2u);
      EXPECT_EQ(names[1], "Value");
    }
    if (kind == "input") {
      ASSERT_EQ(names.size(), 2u);
      EXPECT_EQ(names[1], w[4]);
    }
    vtable->ReleaseFuncDesc(f);
  }
}

// An event interface against `expected`: its events in DISPID order, with
// their parameters, after the restricted IDispatch members that a dispatch
// interface lists first.
void ExpectEvents(ITypeInfo* events, const char* const* expected, std::size_t count) {
  TYPEATTR* eattr = nullptr;
  ASSERT_EQ(events->GetTypeAttr(&eattr), S_OK);
  std::vector<UINT> own;
  for (UINT i = 0; i < eattr->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    ASSERT_EQ(events->GetFuncDesc(i, &f), S_OK);
    if (!(f->wFuncFlags & FUNCFLAG_FRESTRICTED)) own.push_back(i);
    events->ReleaseFuncDesc(f);
  }
  events->ReleaseTypeAttr(eattr);
  ASSERT_EQ(own.size(), count);
  for (UINT i = 0; i < count; ++i) {
    const auto w = Words(expected[i]);
    SCOPED_TRACE(expected[i]);
    FUNCDESC* f = nullptr;
    ASSERT_EQ(events->GetFuncDesc(own[i], &f), S_OK);
    EXPECT_EQ(f->memid, std::stol(w[0]));
    EXPECT_EQ(f->invkind, INVOKE_FUNC);
    BSTR names[16] = {};
    UINT named = 0;
    events->GetNames(f->memid, names, 16, &named);
    std::vector<std::string> nameText;
    for (UINT n = 0; n < named; ++n) {
      nameText.push_back(Narrow(names[n]));
      SysFreeString(names[n]);
    }
    ASSERT_EQ(nameText.size(), w.size() - 1);
    EXPECT_EQ(nameText[0], w[1]);
    ASSERT_EQ(static_cast<std::size_t>(f->cParams), w.size() - 2);
    for (std::size_t p = 2; p < w.size(); ++p) {
      const std::string expectedName = w[p].substr(0, w[p].find(':'));
      const std::string expectedType = w[p].substr(w[p].find(':') + 1);
      EXPECT_EQ(nameText[p - 1], expectedName);
      EXPECT_EQ(TypeText(events, f->lprgelemdescParam[p - 2].tdesc), expectedType);
      const USHORT flags = f->lprgelemdescParam[p - 2].paramdesc.wParamFlags;
      EXPECT_EQ(flags, expectedType[0] == '*' ? PARAMFLAG_FIN | PARAMFLAG_FOUT : PARAMFLAG_FIN);
    }
    events->ReleaseFuncDesc(f);
  }
}

// An enumeration, each member with its value and its name as help.
void ExpectEnum(ITypeInfo* info, const char* expected) {
  const auto w = Words(expected);
  EXPECT_EQ(NameOf(info), w[0]);
  for (std::size_t m = 1; m < w.size(); ++m) {
    VARDESC* v = nullptr;
    ASSERT_EQ(info->GetVarDesc(static_cast<UINT>(m - 1), &v), S_OK);
    std::string memberHelp;
    EXPECT_EQ(NameOf(info, v->memid, &memberHelp) + "=" + std::to_string(v->lpvarValue->lVal), w[m]);
    EXPECT_EQ(memberHelp, w[m].substr(0, w[m].find('=')));
    info->ReleaseVarDesc(v);
  }
}

// The vtable view of a dual interface's type information.
ComPtr<ITypeInfo> VtableView(ITypeInfo* dual) {
  HREFTYPE ref = 0;
  ComPtr<ITypeInfo> vtable;
  if (SUCCEEDED(dual->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref))) dual->GetRefTypeInfo(ref, vtable.Out());
  return vtable;
}

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
  void TearDown() override {
    control.Reset();
    PumpUntil([] { return false; }, 50ms);
    OleUninitialize();
  }
  HRESULT Get(const wchar_t* name, VARIANT* out) {
    return CallByName(control.Get(), name, DISPATCH_PROPERTYGET, {}, out);
  }
  HRESULT Put(const wchar_t* name, VARIANT value, EXCEPINFO* e = nullptr) {
    HRESULT hr = CallByName(control.Get(), name, DISPATCH_PROPERTYPUT, {value}, nullptr, e);
    VariantClear(&value);
    return hr;
  }
  long GetLong(const wchar_t* name) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(Get(name, &v), S_OK) << Narrow(name);
    VARIANT asLong;
    VariantInit(&asLong);
    VariantChangeType(&asLong, &v, 0, VT_I4);
    VariantClear(&v);
    return asLong.lVal;
  }
  std::wstring GetText(const wchar_t* name, bool* isNull = nullptr) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(Get(name, &v), S_OK);
    EXPECT_EQ(v.vt, VT_BSTR);
    if (isNull) *isNull = SysStringLen(v.bstrVal) == 0;  // Wine hands a null BSTR back as an empty one
    std::wstring out = v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : L"";
    VariantClear(&v);
    return out;
  }

  // The sinks outlive the control, which may still hold them at the end.
  RecordingSink sink, secondSink;
  ComPtr<ITelorusX> control = CreateControl();
};

TEST_F(ControlTest, TheEmbeddedTypeLibraryIsThePublishedContract) {
  ComPtr<ITypeLib> library;
  ASSERT_EQ(LoadTypeLibEx(ControlDllPath().c_str(), REGKIND_NONE, library.Out()), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, control::win32::LIBID_TelorusXControl));
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 2);
  EXPECT_EQ(attr->lcid, 0u);
  EXPECT_EQ(attr->syskind, SYS_WIN64);  // the DLL is x86_64: vtable offsets are 8 bytes apart
  EXPECT_EQ(attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, LIBFLAG_FCONTROL);  // the loader adds "has disk image"
  library->ReleaseTLibAttr(attr);
  BSTR name = nullptr, help = nullptr;
  library->GetDocumentation(-1, &name, &help, nullptr, nullptr);
  EXPECT_EQ(Narrow(name), "TelorusXControl");
  EXPECT_EQ(Narrow(help), "TelorusXControl Library");
  SysFreeString(name);
  SysFreeString(help);

  // The seven types of 1.0 in order, then the three of 1.1 and the one of
  // 1.2, with kind, flags, help string and version. The class changed in
  // each version; the other types keep the version that added them.
  struct TypeExpectation {
    const char* name;
    TYPEKIND kind;
    WORD flags;
    const char* help;
    WORD minor;
  };
  const TypeExpectation types[] = {
      {"ITelorusX", TKIND_DISPATCH, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE,
       "Dispatch interface for TelorusX Control", 0},
      {"ITelorusXEvents", TKIND_DISPATCH, TYPEFLAG_FDISPATCHABLE, "Events interface for TelorusX Control", 0},
      {"TelorusX", TKIND_COCLASS, TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL, "TelorusX Control", 2},
      {"TxVNCConnectStatus", TKIND_ENUM, 0, "", 0},
      {"TxemuPixelFmt", TKIND_ENUM, 0, "", 0},
      {"TxVNCCodec", TKIND_ENUM, 0, "", 0},
      {"TxMouseButton", TKIND_ENUM, 0, "", 0},
      {"ITelorusX2", TKIND_DISPATCH, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE,
       "Dispatch interface for TelorusX Control: protocol and security", 1},
      {"ITelorusXEvents2", TKIND_DISPATCH, TYPEFLAG_FDISPATCHABLE,
       "Events interface for TelorusX Control: the certificate question", 1},
      {"TxVNCProtocol", TKIND_ENUM, 0, "", 1},
      {"ITelorusX3", TKIND_DISPATCH, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE,
       "Dispatch interface for TelorusX Control: encodings", 2},
  };
  constexpr UINT kTypes = std::size(types);
  ASSERT_EQ(library->GetTypeInfoCount(), kTypes);
  std::vector<ComPtr<ITypeInfo>> infos(kTypes);
  for (UINT i = 0; i < kTypes; ++i) {
    ASSERT_EQ(library->GetTypeInfo(i, infos[i].Out()), S_OK);
    TYPEATTR* t = nullptr;
    ASSERT_EQ(infos[i]->GetTypeAttr(&t), S_OK);
    std::string typeHelp;
    EXPECT_EQ(NameOf(infos[i].Get(), MEMBERID_NIL, &typeHelp), types[i].name) << i;
    EXPECT_EQ(typeHelp, types[i].help) << types[i].name;
    EXPECT_EQ(t->typekind, types[i].kind) << types[i].name;
    // The loader derives "dispatchable" and "OLE automation" for the views it
    // builds; the flags that were written must all be there and no others.
    constexpr WORD derived = TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FOLEAUTOMATION;
    EXPECT_EQ(t->wTypeFlags & ~derived, types[i].flags & ~derived) << types[i].name;
    if (t->typekind == TKIND_DISPATCH) {
      EXPECT_TRUE(t->wTypeFlags & TYPEFLAG_FDISPATCHABLE) << types[i].name;
    }
    EXPECT_EQ(t->wMajorVerNum, 1) << types[i].name;
    EXPECT_EQ(t->wMinorVerNum, types[i].minor) << types[i].name;
    infos[i]->ReleaseTypeAttr(t);
  }

  // ITelorusX through its vtable view: 63 entries after IDispatch's seven.
  ComPtr<ITypeInfo> vtable = VtableView(infos[0].Get());
  ASSERT_TRUE(vtable);
  HREFTYPE baseRef = 0;
  ComPtr<ITypeInfo> base;
  ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &baseRef), S_OK);
  ASSERT_EQ(vtable->GetRefTypeInfo(baseRef, base.Out()), S_OK);
  EXPECT_EQ(NameOf(base.Get()), "IDispatch");
  ExpectVtable(vtable.Get(), kExpectedMembers, std::size(kExpectedMembers), 7);
  ExpectEvents(infos[1].Get(), kExpectedEvents, std::size(kExpectedEvents));

  // The class: ITelorusX by default, the events as its default source; then
  // ITelorusX2 and ITelorusXEvents2 as a further source, then ITelorusX3.
  TYPEATTR* cattr = nullptr;
  ASSERT_EQ(infos[2]->GetTypeAttr(&cattr), S_OK);
  EXPECT_EQ(cattr->cImplTypes, 5);
  infos[2]->ReleaseTypeAttr(cattr);
  const struct {
    const char* name;
    INT flags;
  } implemented[] = {
      {"ITelorusX", IMPLTYPEFLAG_FDEFAULT},
      {"ITelorusXEvents", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
      {"ITelorusX2", 0},
      {"ITelorusXEvents2", IMPLTYPEFLAG_FSOURCE},
      {"ITelorusX3", 0},
  };
  for (UINT i = 0; i < std::size(implemented); ++i) {
    HREFTYPE ref = 0;
    INT flags = 0;
    ComPtr<ITypeInfo> type;
    ASSERT_EQ(infos[2]->GetRefTypeOfImplType(i, &ref), S_OK);
    ASSERT_EQ(infos[2]->GetRefTypeInfo(ref, type.Out()), S_OK);
    ASSERT_EQ(infos[2]->GetImplTypeFlags(i, &flags), S_OK);
    EXPECT_EQ(NameOf(type.Get()), implemented[i].name);
    EXPECT_EQ(flags, implemented[i].flags) << implemented[i].name;
  }

  for (UINT e = 0; e < std::size(kExpectedEnums); ++e) ExpectEnum(infos[3 + e].Get(), kExpectedEnums[e]);

  // ITelorusX2 derives from ITelorusX: its own entries take the slots after
  // ITelorusX's 7 + 63.
  ComPtr<ITypeInfo> vtable2 = VtableView(infos[7].Get());
  ASSERT_TRUE(vtable2);
  HREFTYPE base2Ref = 0;
  ComPtr<ITypeInfo> base2;
  ASSERT_EQ(vtable2->GetRefTypeOfImplType(0, &base2Ref), S_OK);
  ASSERT_EQ(vtable2->GetRefTypeInfo(base2Ref, base2.Out()), S_OK);
  EXPECT_EQ(NameOf(base2.Get()), "ITelorusX");
  TYPEATTR* battr = nullptr;
  ASSERT_EQ(base2->GetTypeAttr(&battr), S_OK);
  EXPECT_TRUE(IsEqualGUID(battr->guid, control::win32::IID_ITelorusX));
  base2->ReleaseTypeAttr(battr);
  ExpectVtable(vtable2.Get(), kExpectedMembers2, std::size(kExpectedMembers2), 7 + std::size(kExpectedMembers));
  ExpectEvents(infos[8].Get(), kExpectedEvents2, std::size(kExpectedEvents2));
  ExpectEnum(infos[9].Get(), kExpectedEnums2[0]);
  // ITelorusX3 derives from ITelorusX2: its entries follow ITelorusX2's.
  ComPtr<ITypeInfo> vtable3 = VtableView(infos[10].Get());
  ASSERT_TRUE(vtable3);
  HREFTYPE base3Ref = 0;
  ComPtr<ITypeInfo> base3;
  ASSERT_EQ(vtable3->GetRefTypeOfImplType(0, &base3Ref), S_OK);
  ASSERT_EQ(vtable3->GetRefTypeInfo(base3Ref, base3.Out()), S_OK);
  EXPECT_EQ(NameOf(base3.Get()), "ITelorusX2");
  ExpectVtable(vtable3.Get(), kExpectedMembers3, std::size(kExpectedMembers3),
               7 + std::size(kExpectedMembers) + std::size(kExpectedMembers2));
  const struct {
    UINT index;
    const IID& iid;
  } guids[] = {{7, control::win32::IID_ITelorusX2},
               {8, control::win32::IID_ITelorusXEvents2},
               {10, control::win32::IID_ITelorusX3}};
  for (const auto& g : guids) {
    TYPEATTR* t = nullptr;
    ASSERT_EQ(infos[g.index]->GetTypeAttr(&t), S_OK);
    EXPECT_TRUE(IsEqualGUID(t->guid, g.iid)) << g.index;
    infos[g.index]->ReleaseTypeAttr(t);
  }
}

TEST_F(ControlTest, EveryMemberAnswersByNameAndByDispid) {
  for (const char* line : kExpectedMembers) {
    const auto w = Words(line);
    std::wstring name(w[1].begin(), w[1].end());
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    ASSERT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << line;
    EXPECT_EQ(id, std::stol(w[0])) << line;
    // Names are case-insensitive, as late-bound hosts expect.
    std::wstring lower = name;
    for (auto& c : lower) c = static_cast<wchar_t>(towlower(c));
    LPOLESTR lowerNames[] = {lower.data()};
    EXPECT_EQ(control->GetIDsOfNames(IID_NULL, lowerNames, 1, 0, &id), S_OK) << line;
    if (w[2] == "get" || w[2] == "result") {
      VARIANT v;
      VariantInit(&v);
      DISPPARAMS none{nullptr, nullptr, 0, 0};
      WORD kind = w[2] == "get" ? DISPATCH_PROPERTYGET : DISPATCH_METHOD;
      EXPECT_EQ(control->Invoke(id, IID_NULL, 0, kind, &none, &v, nullptr, nullptr), S_OK) << line;
      VariantClear(&v);
    }
  }
  // The methods without arguments run by DISPID.
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  for (DISPID id : {203, 204, 228, 229, 234})
    EXPECT_EQ(control->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK) << id;
  EXPECT_EQ(control->Invoke(299, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
}

TEST_F(ControlTest, ValuesConvertAsHostsRelyOnAndFailuresCarryTheirDescription) {
  // Booleans: any non-zero value is true and reads back as -1.
  EXPECT_EQ(Put(L"ShareDesktop", Long(1)), S_OK);
  EXPECT_EQ(GetLong(L"ShareDesktop"), -1);
  EXPECT_EQ(Put(L"ShareDesktop", Long(0)), S_OK);
  EXPECT_EQ(GetLong(L"ShareDesktop"), 0);
  // Enumerations reach the viewer as their low 8 bits.
  EXPECT_EQ(Put(L"PixelFormat", Long(257)), S_OK);
  EXPECT_EQ(GetLong(L"PixelFormat"), 1);
  EXPECT_EQ(Put(L"Codec", Long(260)), S_OK);
  EXPECT_EQ(GetLong(L"Codec"), 4);
  // No member validates: a negative port is stored.
  EXPECT_EQ(Put(L"Port", Long(-3)), S_OK);
  EXPECT_EQ(GetLong(L"Port"), -3);
  EXPECT_EQ(Put(L"Color", Long(0x00123456)), S_OK);
  EXPECT_EQ(GetLong(L"Color"), 0x00123456);
  // Strings through the ANSI code page; an empty string comes back null.
  EXPECT_EQ(Put(L"Server", Text(L"h\u00f6st.example")), S_OK);
  EXPECT_EQ(GetText(L"Server"), L"h\u00f6st.example");
  EXPECT_EQ(Put(L"Server", Text(L"")), S_OK);
  bool isNull = false;
  GetText(L"Server", &isNull);
  EXPECT_TRUE(isNull);
  BSTR direct = SysAllocString(L"stale");
  EXPECT_EQ(control->get_Server(&direct), S_OK);  // the out-parameter is cleared, not freed by us
  EXPECT_EQ(direct, nullptr);
  // The dispatch layer refuses what the type says cannot be.
  EXPECT_EQ(Put(L"FrameUpdateDelay", Long(70000)), DISP_E_OVERFLOW);
  EXPECT_EQ(Put(L"Status", Long(7)), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(GetLong(L"Status"), 0);
  EXPECT_EQ(GetLong(L"Connected"), 0);
  EXPECT_EQ(GetLong(L"VisibleDockClientCount"), 0);
  // Enabled and Visible are the window's.
  EXPECT_EQ(Put(L"Enabled", Long(0)), S_OK);
  EXPECT_EQ(GetLong(L"Enabled"), 0);
  HWND window = nullptr;
  ComPtr<IOleWindow> oleWindow;
  ASSERT_EQ(control->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(oleWindow.Out())), S_OK);
  ASSERT_EQ(oleWindow->GetWindow(&window), S_OK);
  EXPECT_FALSE(IsWindowEnabled(window));

  // A member that raises: a second Connect while the socket is open.
  ScriptedServer server;
  server.Pause(5s);
  server.Start();
  EXPECT_EQ(Put(L"Server", Text(L"127.0.0.1")), S_OK);
  EXPECT_EQ(Put(L"Port", Long(server.Port())), S_OK);
  EXPECT_EQ(CallByName(control.Get(), L"Connect", DISPATCH_METHOD), S_OK);
  EXCEPINFO e{};
  EXPECT_EQ(CallByName(control.Get(), L"Connect", DISPATCH_METHOD, {}, nullptr, &e), DISP_E_EXCEPTION);
  EXPECT_EQ(e.scode, static_cast<SCODE>(E_UNEXPECTED));
  ASSERT_NE(e.bstrDescription, nullptr);
  EXPECT_NE(std::wstring(e.bstrDescription).find(L"Socket already in use"), std::wstring::npos);
  SysFreeString(e.bstrSource);
  SysFreeString(e.bstrDescription);
  SysFreeString(e.bstrHelpFile);
  // Through the vtable the same failure leaves error information.
  EXPECT_EQ(control->Connect(), E_UNEXPECTED);
  ComPtr<ISupportErrorInfo> supports;
  ASSERT_EQ(control->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(supports.Out())), S_OK);
  EXPECT_EQ(supports->InterfaceSupportsErrorInfo(control::win32::IID_ITelorusX), S_OK);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.Out()), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  EXPECT_NE(std::wstring(description ? description : L"").find(L"Socket already in use"), std::wstring::npos);
  SysFreeString(description);
  EXPECT_EQ(control->DisConnect(), S_OK);
}

TEST_F(ControlTest, ContainerInterfacesAndPersistence) {
  ComPtr<IObjectSafety> safety;
  ASSERT_EQ(control->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(safety.Out())), S_OK);
  DWORD supported = 0, enabled = 0;
  ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, static_cast<DWORD>(INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA));
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, supported, supported), S_OK);
  ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, supported);

  ComPtr<IProvideClassInfo2> classInfo;
  ASSERT_EQ(control->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(classInfo.Out())), S_OK);
  GUID source{};
  ASSERT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_TRUE(IsEqualGUID(source, control::win32::IID_ITelorusXEvents));
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(classInfo->GetClassInfo(coclass.Out()), S_OK);
  EXPECT_EQ(NameOf(coclass.Get()), "TelorusX");

  ComPtr<ISpecifyPropertyPages> pages;
  ASSERT_EQ(control->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(pages.Out())), S_OK);
  CAUUID none{};
  ASSERT_EQ(pages->GetPages(&none), S_OK);
  EXPECT_EQ(none.cElems, 0u);

  ComPtr<IOleObject> ole;
  ASSERT_EQ(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(ole.Out())), S_OK);
  DWORD misc = 0;
  ASSERT_EQ(ole->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
  EXPECT_EQ(misc, 131473u);

  // The single-sink events point refuses a second sink.
  EXPECT_NE(AdviseEvents(control.Get(), &sink), 0u);
  HRESULT hr = S_OK;
  EXPECT_EQ(AdviseEvents(control.Get(), &secondSink, &hr), 0u);
  EXPECT_EQ(hr, CONNECT_E_ADVISELIMIT);

  // The browsable properties survive a stream, texts with line ends and
  // backslashes included; a property change is announced.
  EXPECT_EQ(Put(L"Server", Text(L"a\\b\r\nc=d")), S_OK);
  EXPECT_EQ(Put(L"Port", Long(5999)), S_OK);
  EXPECT_EQ(Put(L"Stretch", Long(-1)), S_OK);
  EXPECT_EQ(Put(L"Codec", Long(2)), S_OK);
  ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(persist.Out())), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_OK);
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Out()), S_OK);
  ASSERT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  LARGE_INTEGER start{};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  ComPtr<ITelorusX> copy = CreateControl();
  ComPtr<IPersistStreamInit> copyPersist;
  ASSERT_EQ(copy->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(copyPersist.Out())), S_OK);
  ASSERT_EQ(copyPersist->Load(stream.Get()), S_OK);
  std::swap(control, copy);
  EXPECT_EQ(GetText(L"Server"), L"a\\b\r\nc=d");
  EXPECT_EQ(GetLong(L"Port"), 5999);
  EXPECT_EQ(GetLong(L"Stretch"), -1);
  EXPECT_EQ(GetLong(L"Codec"), 2);
  std::swap(control, copy);
  // A stream that is not the control's is refused and changes nothing.
  ComPtr<IStream> garbage;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, garbage.Out()), S_OK);
  garbage->Write("nonsense", 8, nullptr);
  garbage->Seek(start, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(persist->Load(garbage.Get()), E_FAIL);
  EXPECT_EQ(GetLong(L"Port"), 5999);
}

TEST_F(ControlTest, ITelorusX2AnswersThroughItsVtableAndByName) {
  ComPtr<ITelorusX2> control2;
  ASSERT_EQ(control->QueryInterface(control::win32::IID_ITelorusX2, reinterpret_cast<void**>(control2.Out())), S_OK);
  // ITelorusX's entries keep their slots in ITelorusX2.
  ASSERT_EQ(control->set_Port(5901), S_OK);
  long n = 0;
  ASSERT_EQ(control2->get_Port(&n), S_OK);
  EXPECT_EQ(n, 5901);

  // The dispatch view is the newest interface's: ITelorusX2's names resolve
  // through it.
  for (const char* line : kExpectedMembers2) {
    const auto w = Words(line);
    std::wstring name(w[1].begin(), w[1].end());
    for (auto& c : name) c = static_cast<wchar_t>(towlower(c));
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    ASSERT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << line;
    EXPECT_EQ(id, std::stol(w[0])) << line;
  }

  // Protocol: the vtable and the name reach the same setting; only 0, 1
  // and 2 (by their low 8 bits) are taken.
  EXPECT_EQ(GetLong(L"Protocol"), 0) << "3.3 by default";
  ASSERT_EQ(control2->set_Protocol(2), S_OK);
  EXPECT_EQ(GetLong(L"Protocol"), 2);
  EXPECT_EQ(Put(L"Protocol", Long(257)), S_OK);
  ASSERT_EQ(control2->get_Protocol(&n), S_OK);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(control2->set_Protocol(3), E_INVALIDARG);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.Out()), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  EXPECT_NE(std::wstring(description ? description : L"").find(L"is not 0 (3.3), 1 (3.7) or 2 (3.8)"),
            std::wstring::npos);
  SysFreeString(description);
  EXCEPINFO e{};
  EXPECT_EQ(Put(L"Protocol", Long(7), &e), DISP_E_EXCEPTION);
  EXPECT_EQ(e.scode, static_cast<SCODE>(E_INVALIDARG));
  SysFreeString(e.bstrSource);
  SysFreeString(e.bstrDescription);
  SysFreeString(e.bstrHelpFile);
  EXPECT_EQ(GetLong(L"Protocol"), 1) << "a refused value keeps the setting";
  ComPtr<ISupportErrorInfo> supports;
  ASSERT_EQ(control->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(supports.Out())), S_OK);
  EXPECT_EQ(supports->InterfaceSupportsErrorInfo(control::win32::IID_ITelorusX2), S_OK);

  // The strings through the ANSI code page, both ways.
  EXPECT_EQ(GetText(L"SecurityTypes"), L"X509Vnc,X509Plain,X509None,TLSVnc,TLSPlain,TLSNone,AnonTLS,VncAuth,None");
  BSTR text = SysAllocString(L"VncAuth,None");
  EXPECT_EQ(control2->set_SecurityTypes(text), S_OK);
  SysFreeString(text);
  EXPECT_EQ(GetText(L"SecurityTypes"), L"VncAuth,None");
  EXPECT_EQ(Put(L"UserName", Text(L"j\u00f6rg")), S_OK);
  text = nullptr;
  ASSERT_EQ(control2->get_UserName(&text), S_OK);
  EXPECT_EQ(std::wstring(text ? text : L""), L"j\u00f6rg");
  SysFreeString(text);
  EXPECT_EQ(Put(L"CaFile", Text(L"C:\\certs\\ca.pem")), S_OK);
  text = nullptr;
  ASSERT_EQ(control2->get_CaFile(&text), S_OK);
  EXPECT_EQ(std::wstring(text ? text : L""), L"C:\\certs\\ca.pem");
  SysFreeString(text);
  ASSERT_EQ(control2->set_CaFile(nullptr), S_OK);
  text = SysAllocString(L"stale");
  ASSERT_EQ(control2->get_CaFile(&text), S_OK);
  EXPECT_EQ(text, nullptr) << "an empty string comes back null";

  // Encrypted is read-only and false outside a session.
  VARIANT_BOOL encrypted = 5;
  ASSERT_EQ(control2->get_Encrypted(&encrypted), S_OK);
  EXPECT_EQ(encrypted, 0);
  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(Get(L"Encrypted", &v), S_OK);
  EXPECT_EQ(v.vt, VT_BOOL);
  EXPECT_EQ(Put(L"Encrypted", Long(-1)), DISP_E_MEMBERNOTFOUND);

  // The settings of 1.1 are stored with the others.
  ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(persist.Out())), S_OK);
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Out()), S_OK);
  ASSERT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
  LARGE_INTEGER start{};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  ComPtr<ITelorusX> copy = CreateControl();
  ComPtr<IPersistStreamInit> copyPersist;
  ASSERT_EQ(copy->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(copyPersist.Out())), S_OK);
  ASSERT_EQ(copyPersist->Load(stream.Get()), S_OK);
  std::swap(control, copy);
  EXPECT_EQ(GetLong(L"Protocol"), 1);
  EXPECT_EQ(GetText(L"SecurityTypes"), L"VncAuth,None");
  EXPECT_EQ(GetText(L"UserName"), L"j\u00f6rg");
  EXPECT_EQ(GetLong(L"Port"), 5901);
  std::swap(control, copy);
}

// ITelorusX3: the encoding settings through the vtable and by name, their
// ranges, and their place in the stored document.
TEST_F(ControlTest, ITelorusX3AnswersThroughItsVtableAndByName) {
  ComPtr<control::win32::ITelorusX3> control3;
  ASSERT_EQ(control->QueryInterface(control::win32::IID_ITelorusX3, reinterpret_cast<void**>(control3.Out())), S_OK);
  ComPtr<ITypeInfo> browsed;
  ASSERT_EQ(control->GetTypeInfo(0, 0, browsed.Out()), S_OK);
  EXPECT_EQ(NameOf(browsed.Get()), "ITelorusX3");
  for (const char* line : kExpectedMembers3) {
    const auto w = Words(line);
    std::wstring name(w[1].begin(), w[1].end());
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    ASSERT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << line;
    EXPECT_EQ(id, std::stol(w[0])) << line;
  }
  // The earlier interfaces' entries keep their slots.
  ASSERT_EQ(control3->set_Protocol(2), S_OK);
  EXPECT_EQ(GetLong(L"Protocol"), 2);

  // The Parts' behaviour by default: the codec alone, no levels.
  VARIANT_BOOL flag = 5;
  ASSERT_EQ(control3->get_AllowOtherEncodings(&flag), S_OK);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(GetLong(L"CompressLevel"), -1);
  EXPECT_EQ(GetLong(L"JpegQuality"), -1);
  ASSERT_EQ(control3->set_AllowOtherEncodings(VARIANT_TRUE), S_OK);
  ASSERT_EQ(control3->set_CompressLevel(6), S_OK);
  EXPECT_EQ(Put(L"JpegQuality", Long(8)), S_OK);
  EXPECT_EQ(Put(L"AutoQuality", Long(-1)), S_OK);
  EXPECT_EQ(Put(L"Codec", Long(6)), S_OK);  // vncTight, appended in 1.2
  long n = 0;
  ASSERT_EQ(control3->get_JpegQuality(&n), S_OK);
  EXPECT_EQ(n, 8);
  EXPECT_EQ(control3->set_JpegQuality(10), E_INVALIDARG);
  EXPECT_EQ(control3->set_CompressLevel(-2), E_INVALIDARG);
  EXPECT_EQ(GetLong(L"CompressLevel"), 6) << "a refused value keeps the setting";

  // Stored and read back with the others.
  ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(persist.Out())), S_OK);
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Out()), S_OK);
  ASSERT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
  LARGE_INTEGER start{};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  ComPtr<ITelorusX> copy = CreateControl();
  ComPtr<IPersistStreamInit> copyPersist;
  ASSERT_EQ(copy->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(copyPersist.Out())), S_OK);
  ASSERT_EQ(copyPersist->Load(stream.Get()), S_OK);
  std::swap(control, copy);
  EXPECT_EQ(GetLong(L"CompressLevel"), 6);
  EXPECT_EQ(GetLong(L"JpegQuality"), 8);
  EXPECT_EQ(GetLong(L"Codec"), 6);
  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(Get(L"AllowOtherEncodings", &v), S_OK);
  EXPECT_EQ(v.vt, VT_BOOL);
  EXPECT_EQ(v.boolVal, VARIANT_TRUE);
  std::swap(control, copy);
}

TEST_F(ControlTest, TheSecondEventInterfaceHasAConnectionPointOfItsOwn) {
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.Out())), S_OK);
  ComPtr<IEnumConnectionPoints> all;
  ASSERT_EQ(container->EnumConnectionPoints(all.Out()), S_OK);
  std::vector<GUID> offered;
  for (IConnectionPoint* p = nullptr; all->Next(1, &p, nullptr) == S_OK; p->Release()) {
    IID iid{};
    p->GetConnectionInterface(&iid);
    offered.push_back(iid);
  }
  ASSERT_EQ(offered.size(), 3u);
  EXPECT_TRUE(IsEqualGUID(offered[0], control::win32::IID_ITelorusXEvents));
  EXPECT_TRUE(IsEqualGUID(offered[1], control::win32::IID_ITelorusXEvents2));
  EXPECT_TRUE(IsEqualGUID(offered[2], IID_IPropertyNotifySink));
  // The default source stays ITelorusXEvents.
  ComPtr<IProvideClassInfo2> classInfo;
  ASSERT_EQ(control->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(classInfo.Out())), S_OK);
  GUID source{};
  ASSERT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_TRUE(IsEqualGUID(source, control::win32::IID_ITelorusXEvents));

  // One sink on each point; each point takes a single sink.
  RecordingSink second;
  ASSERT_NE(AdviseEvents(control.Get(), &sink), 0u);
  HRESULT hr = S_OK;
  const DWORD cookie2 = AdviseEvents(control.Get(), &second, &hr, control::win32::IID_ITelorusXEvents2);
  ASSERT_NE(cookie2, 0u) << std::hex << hr;
  EXPECT_EQ(AdviseEvents(control.Get(), &secondSink, &hr, control::win32::IID_ITelorusXEvents2), 0u);
  EXPECT_EQ(hr, CONNECT_E_ADVISELIMIT);

  // The events of ITelorusXEvents go to its own sink only.
  ScriptedServer server;
  server.Send("RFB 003.003\n").Expect(12).Send(rfb::Be32(1)).Expect(1);
  server.Send(rfb::ServerInit(32, 16, rfb::TrueColour32(), "two sinks")).Pause(2s);
  server.Start();
  EXPECT_EQ(Put(L"Server", Text(L"127.0.0.1")), S_OK);
  EXPECT_EQ(Put(L"Port", Long(server.Port())), S_OK);
  ASSERT_EQ(control->Connect(), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink.Has(204); })) << "no OnConnected";
  EXPECT_TRUE(second.events.empty());
  EXPECT_EQ(control->DisConnect(), S_OK);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(control::win32::IID_ITelorusXEvents2, point.Out()), S_OK);
  ASSERT_EQ(point->Unadvise(cookie2), S_OK);
  EXPECT_EQ(point->Unadvise(cookie2), CONNECT_E_NOCONNECTION);
}

// The scripted server's screen.
constexpr int kFrameWidth = 160, kFrameHeight = 120;

TEST_F(ControlTest, EventsReachTheSinkInOrderAndTheKeyComesBackByReference) {
  ScriptedServer server;
  const auto fmt = rfb::TrueColour32();
  server.Send("RFB 003.003\n").Expect(12).Send(rfb::Be32(1)).Expect(1);
  server.Send(rfb::ServerInit(kFrameWidth, kFrameHeight, fmt, "scripted desk")).Pause(8s);
  server.Start();
  sink.onKey = [](SHORT& key) {
    if (key == 'x') key = 321;  // the host replaces the key; its low 8 bits are 'A'
  };
  const DWORD cookie = AdviseEvents(control.Get(), &sink);
  ASSERT_NE(cookie, 0u);
  EXPECT_EQ(Put(L"Server", Text(L"127.0.0.1")), S_OK);
  EXPECT_EQ(Put(L"Port", Long(server.Port())), S_OK);
  ASSERT_EQ(control->Connect(), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink.Has(206); })) << "no OnHostName";
  ASSERT_TRUE(PumpUntil([&] { return GetLong(L"Connected") == -1; }));
  EXPECT_EQ(GetLong(L"Status"), 7);
  EXPECT_EQ(GetLong(L"RemoteDeskWidth"), kFrameWidth);
  EXPECT_EQ(GetText(L"RemoteHostName"), L"scripted desk");

  const FiredEvent* size = sink.First(205);
  ASSERT_NE(size, nullptr);
  EXPECT_EQ(size->arguments, (std::vector<std::wstring>{L"160", L"120"}));  // width first
  EXPECT_EQ(sink.First(206)->arguments, std::vector<std::wstring>{L"scripted desk"});
  ASSERT_TRUE(sink.Has(207));
  EXPECT_FALSE(sink.First(207)->arguments.empty());
  ASSERT_TRUE(sink.Has(204));

  // A typed character goes to the host by reference (the facade's own tests
  // check what it keeps of the host's value); keys reach the server.
  HWND window = nullptr;
  ComPtr<IOleWindow> oleWindow;
  ASSERT_EQ(control->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(oleWindow.Out())), S_OK);
  ASSERT_EQ(oleWindow->GetWindow(&window), S_OK);
  SendMessageW(window, WM_CHAR, 'x', 1);
  const FiredEvent* key = sink.First(208);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->arguments, std::vector<std::wstring>{L"&120"});
  SendMessageW(window, WM_KEYDOWN, 'A', 1);
  const std::string press = rfb::KeyEvent(true, 'a');  // Shift is up
  EXPECT_TRUE(PumpUntil([&] { return server.Received().find(press) != std::string::npos; }, 5s))
      << "the server never saw the key pressed";

  // Once the sink is gone, events are swallowed.
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.Out())), S_OK);
  ASSERT_EQ(container->FindConnectionPoint(control::win32::IID_ITelorusXEvents, point.Out()), S_OK);
  ASSERT_EQ(point->Unadvise(cookie), S_OK);
  const std::size_t before = sink.events.size();
  EXPECT_EQ(control->DisConnect(), S_OK);
  PumpUntil([] { return false; }, 100ms);
  EXPECT_EQ(sink.events.size(), before);
}

// The control's picture through IViewObject::Draw, as colour values.
std::vector<std::uint32_t> DrawControl(IUnknown* control, int width, int height) {
  ComPtr<IViewObject> view;
  if (FAILED(control->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(view.Out())))) return {};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECTL bounds{0, 0, width, height};
  view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0);
  GdiFlush();
  std::vector<std::uint32_t> out;
  const auto* p = static_cast<const std::uint32_t*>(bits);
  for (int i = 0; i < width * height; ++i) out.push_back(platform::MemoryToColour(p[i]));
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return out;
}

TEST_F(ControlTest, ASessionWithX11VncLogsOnAndShowsTheRemoteScreen) {
  X11VncServer vnc(200, 150, 24, "s3cret");
  if (!vnc.Ok()) GTEST_SKIP() << vnc.Problem();
  ASSERT_TRUE(PaintPicture(vnc.Display(), 200, 150));
  // Created without a container: the host starts the update timer itself.
  EXPECT_EQ(Put(L"RequestFreames", Long(-1)), S_OK);
  ASSERT_NE(AdviseEvents(control.Get(), &sink), 0u);
  EXPECT_EQ(Put(L"Server", Text(L"127.0.0.1")), S_OK);
  EXPECT_EQ(Put(L"Port", Long(vnc.Port())), S_OK);
  EXPECT_EQ(Put(L"Password", Text(L"s3cret")), S_OK);
  ASSERT_EQ(control->Connect(), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink.Has(204) && sink.Has(205) && sink.Has(206); }, 20s));
  EXPECT_FALSE(sink.Has(201)) << "the logon failed";
  EXPECT_EQ(sink.First(205)->arguments, (std::vector<std::wstring>{L"200", L"150"}));
  const ScreenImage screen = CaptureScreen(vnc.Display());
  ASSERT_EQ(screen.width, 200);
  std::vector<std::uint32_t> drawn;
  const bool same = PumpUntil(
      [&] {
        drawn = DrawControl(control.Get(), 200, 150);
        return drawn == screen.pixels;
      },
      20s);
  std::string statuses;
  for (const FiredEvent& e : sink.events)
    if (e.id == 207 && !e.arguments.empty())
      statuses += " [" + std::string(e.arguments[0].begin(), e.arguments[0].end()) + "]";
  EXPECT_TRUE(same) << "the drawn picture never matched the server's screen: at (10,10) " << std::hex
                    << (drawn.size() > 2010 ? drawn[2010] : 0) << " instead of " << screen.At(10, 10)
                    << "; statuses:" << statuses;
  EXPECT_EQ(control->DisConnect(), S_OK);
  EXPECT_TRUE(PumpUntil([&] { return sink.Has(203); }, 5s)) << "no OnConnectClose";
}

// RFB 3.8 chosen by name, as a script host would: the viewer picks VncAuth
// from the server's list, logs on and shows the screen; a list without the
// server's only type is refused with the server's offer named.
TEST_F(ControlTest, ASessionOverRfb38WithVncAuthLogsOnToX11Vnc) {
  X11VncServer vnc(200, 150, 24, "s3cret");
  if (!vnc.Ok()) GTEST_SKIP() << vnc.Problem();
  ASSERT_TRUE(PaintPicture(vnc.Display(), 200, 150));
  EXPECT_EQ(Put(L"RequestFreames", Long(-1)), S_OK);
  ASSERT_NE(AdviseEvents(control.Get(), &sink), 0u);
  EXPECT_EQ(Put(L"Server", Text(L"127.0.0.1")), S_OK);
  EXPECT_EQ(Put(L"Port", Long(vnc.Port())), S_OK);
  EXPECT_EQ(Put(L"Password", Text(L"s3cret")), S_OK);
  EXPECT_EQ(Put(L"Protocol", Long(2)), S_OK);
  auto statuses = [&] {
    std::string out;
    for (const FiredEvent& e : sink.events)
      if (e.id == 207 && !e.arguments.empty())
        out += "[" + std::string(e.arguments[0].begin(), e.arguments[0].end()) + "]";
    return out;
  };

  EXPECT_EQ(Put(L"SecurityTypes", Text(L"None")), S_OK);
  ASSERT_EQ(control->Connect(), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink.Has(203); }, 20s)) << "no OnConnectClose; statuses: " << statuses();
  ASSERT_TRUE(sink.Has(202));
  EXPECT_NE(sink.First(202)->arguments[0].find(L"and none of them is accepted"), std::wstring::npos);
  EXPECT_FALSE(sink.Has(204));
  sink.events.clear();

  EXPECT_EQ(Put(L"SecurityTypes", Text(L"VncAuth")), S_OK);
  ASSERT_EQ(control->Connect(), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink.Has(204) && sink.Has(205) && sink.Has(206); }, 20s))
      << "statuses: " << statuses();
  EXPECT_FALSE(sink.Has(201)) << "the logon failed";
  // Only the 3.7 and 3.8 negotiation names the type the viewer chose.
  EXPECT_NE(statuses().find("[Security Type: VncAuth]"), std::string::npos) << statuses();
  EXPECT_NE(statuses().find("[Logon Success!]"), std::string::npos) << statuses();
  EXPECT_EQ(GetLong(L"Encrypted"), 0);
  const ScreenImage screen = CaptureScreen(vnc.Display());
  ASSERT_EQ(screen.width, 200);
  std::vector<std::uint32_t> drawn;
  const bool same = PumpUntil(
      [&] {
        drawn = DrawControl(control.Get(), 200, 150);
        return drawn == screen.pixels;
      },
      20s);
  EXPECT_TRUE(same) << "the drawn picture never matched the server's screen; statuses: " << statuses();
  EXPECT_EQ(control->DisConnect(), S_OK);
  EXPECT_TRUE(PumpUntil([&] { return sink.Has(203); }, 5s)) << "no OnConnectClose";
}

}  // namespace
}  // namespace telorus::test
