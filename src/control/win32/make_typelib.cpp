// Writes the control's compiled type library from its description
// (TelorusXControl_TLB) through the system's ICreateTypeLib2, at build time.
//
//   make-typelib OUTPUT.tlb
//
// The library is written for 64-bit Windows: the server is an x86_64 DLL and
// the dispatch layer computes vtable offsets from the target system, so a
// 32-bit library would make ITypeInfo::Invoke call the wrong slots.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "control/TelorusXControl_TLB.h"
#include "control/win32/com_util.h"

namespace telorus::control::win32 {
namespace {

// OLE Automation's library and its OLE_COLOR alias.
constexpr GUID kStdOle = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// A vtable slot of 64-bit Windows.
constexpr UINT kSlotBytes = 8;
constexpr GUID kOleColor = {0x66504301, 0xBE0F, 0x101A, {0x8B, 0xBB, 0x00, 0xAA, 0x00, 0x30, 0x0C, 0xAB}};

void Check(HRESULT hr, const std::string& what) {
  if (FAILED(hr)) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    throw std::runtime_error(what + " failed: " + code);
  }
}

class Writer {
 public:
  explicit Writer(const std::wstring& path) {
    Check(CreateTypeLib2(SYS_WIN64, path.c_str(), library_.Out()), "CreateTypeLib2");
    Check(library_->SetName(const_cast<LPOLESTR>(Widen(kLibraryName).c_str())), "SetName");
    Check(library_->SetGuid(ToGUID(kLibraryGuid)), "SetGuid");
    Check(library_->SetVersion(kVersionMajor, kVersionMinor), "SetVersion");
    Check(library_->SetLcid(0), "SetLcid");
    Check(library_->SetDocString(const_cast<LPOLESTR>(Widen(kLibraryHelp).c_str())), "SetDocString");
    Check(library_->SetLibFlags(LIBFLAG_FCONTROL), "SetLibFlags");

    ComPtr<ITypeLib> stdole;
    Check(LoadRegTypeLib(kStdOle, 2, 0, 0, stdole.Out()), "loading stdole2.tlb");
    Check(stdole->GetTypeInfoOfGuid(IID_IDispatch, dispatch_.Out()), "IDispatch in stdole2");
    Check(stdole->GetTypeInfoOfGuid(kOleColor, oleColor_.Out()), "OLE_COLOR in stdole2");
  }

  void Write() {
    // The type descriptions are created in library order first, so that
    // the interfaces can refer to the enumerations that follow them. The
    // types of 1.1 come after all those of 1.0, which keep their indexes.
    constexpr WORD dual = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    auto iface = Create(kInterfaceName, TKIND_INTERFACE, kITelorusXGuid, kInterfaceHelp, kFirstVersionMinor, dual);
    auto events = Create(kEventsName, TKIND_DISPATCH, kITelorusXEventsGuid, kEventsHelp, kFirstVersionMinor,
                         TYPEFLAG_FDISPATCHABLE);
    auto coclass = Create(kClassName, TKIND_COCLASS, kTelorusXGuid, kClassHelp, kVersionMinor,
                          TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL);
    for (const Enumeration& e : Enumerations()) enums_.push_back(WriteEnum(e, kFirstVersionMinor));
    auto iface2 = Create(kInterface2Name, TKIND_INTERFACE, kITelorusX2Guid, kInterface2Help, kSecondVersionMinor, dual);
    auto events2 = Create(kEvents2Name, TKIND_DISPATCH, kITelorusXEvents2Guid, kEvents2Help, kSecondVersionMinor,
                          TYPEFLAG_FDISPATCHABLE);
    for (const Enumeration& e : Enumerations2()) enums2_.push_back(WriteEnum(e, kSecondVersionMinor));
    auto iface3 = Create(kInterface3Name, TKIND_INTERFACE, kITelorusX3Guid, kInterface3Help, kVersionMinor, dual);

    WriteInterface(iface, Reference(iface, dispatch_.Get()), InterfaceMembers(), kInterfaceName);
    // ITelorusX2 derives from ITelorusX, and its entries continue that
    // vtable: after IDispatch's seven and ITelorusX's own. Their offsets are
    // given explicitly, since the writer would place them after the base's
    // dispatch view (which a reference to a dual interface names), that is
    // from slot 7.
    WriteInterface(iface2, Reference(iface2, iface), Interface2Members(), kInterface2Name,
                   7 + static_cast<UINT>(InterfaceMembers().size()));
    WriteInterface(iface3, Reference(iface3, iface2), Interface3Members(), kInterface3Name,
                   7 + static_cast<UINT>(InterfaceMembers().size() + Interface2Members().size()));
    WriteEvents(events, Events(), kEventsName);
    WriteEvents(events2, Events2(), kEvents2Name);
    // ITelorusX stays the default interface and ITelorusXEvents the default
    // source; the later interfaces are listed after them.
    const struct {
      ComPtr<ICreateTypeInfo>* type;
      INT flags;
      const char* what;
    } implemented[] = {
        {&iface, IMPLTYPEFLAG_FDEFAULT, kInterfaceName},
        {&events, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE, kEventsName},
        {&iface2, 0, kInterface2Name},
        {&events2, IMPLTYPEFLAG_FSOURCE, kEvents2Name},
        {&iface3, 0, kInterface3Name},
    };
    UINT index = 0;
    for (const auto& i : implemented) {
      Check(coclass->AddImplType(index, Reference(coclass, *i.type)), std::string("coclass ") + i.what);
      Check(coclass->SetImplTypeFlags(index, i.flags), std::string("coclass flags of ") + i.what);
      ++index;
    }
    Check(library_->SaveAllChanges(), "SaveAllChanges");
  }

 private:
  ComPtr<ICreateTypeInfo> Create(const char* name, TYPEKIND kind, const Guid& guid, const char* help,
                                 std::uint16_t minor, WORD flags) {
    ComPtr<ICreateTypeInfo> info;
    std::wstring wide = Widen(name);
    Check(library_->CreateTypeInfo(const_cast<LPOLESTR>(wide.c_str()), kind, info.Out()), std::string("type ") + name);
    Check(info->SetGuid(ToGUID(guid)), std::string("guid of ") + name);
    Check(info->SetVersion(kVersionMajor, minor), std::string("version of ") + name);
    if (help) Check(info->SetDocString(const_cast<LPOLESTR>(Widen(help).c_str())), std::string("help of ") + name);
    if (flags) Check(info->SetTypeFlags(flags), std::string("flags of ") + name);
    return info;
  }

  ComPtr<ICreateTypeInfo> WriteEnum(const Enumeration& e, std::uint16_t minor) {
    auto info = Create(e.name, TKIND_ENUM, e.guid, nullptr, minor, 0);
    UINT index = 0;
    for (const EnumMember& m : e.members) {
      VARIANT value;
      VariantInit(&value);
      value.vt = VT_I4;
      value.lVal = m.value;
      VARDESC desc{};
      desc.memid = static_cast<MEMBERID>(0x40000000 + index);
      desc.varkind = VAR_CONST;
      desc.lpvarValue = &value;
      desc.elemdescVar.tdesc.vt = VT_I4;
      Check(info->AddVarDesc(index, &desc), std::string("member ") + m.name);
      std::wstring name = Widen(m.name);
      Check(info->SetVarName(index, const_cast<LPOLESTR>(name.c_str())), std::string("name of ") + m.name);
      Check(info->SetVarDocString(index, const_cast<LPOLESTR>(name.c_str())), std::string("help of ") + m.name);
      ++index;
    }
    return info;
  }

  HREFTYPE Reference(ComPtr<ICreateTypeInfo>& from, ITypeInfo* to) {
    HREFTYPE ref = 0;
    Check(from->AddRefTypeInfo(to, &ref), "AddRefTypeInfo");
    return ref;
  }
  HREFTYPE Reference(ComPtr<ICreateTypeInfo>& from, ComPtr<ICreateTypeInfo>& to) {
    ComPtr<ITypeInfo> info;
    Check(to->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(info.Out())), "ITypeInfo of a new type");
    return Reference(from, info.Get());
  }

  // The type description of an automation type as seen from `from`.
  TYPEDESC Type(ComPtr<ICreateTypeInfo>& from, AutoType type) {
    TYPEDESC t{};
    switch (type) {
      case AutoType::Long: t.vt = VT_I4; break;
      case AutoType::Bstr: t.vt = VT_BSTR; break;
      case AutoType::Bool: t.vt = VT_BOOL; break;
      case AutoType::UShort: t.vt = VT_UI2; break;
      case AutoType::Short: t.vt = VT_I2; break;
      case AutoType::Date: t.vt = VT_DATE; break;
      case AutoType::OleColor:
        t.vt = VT_USERDEFINED;
        t.hreftype = Reference(from, oleColor_.Get());
        break;
      case AutoType::TxVNCConnectStatus:
      case AutoType::TxemuPixelFmt:
      case AutoType::TxVNCCodec: {
        std::size_t index = type == AutoType::TxVNCConnectStatus ? 0 : type == AutoType::TxemuPixelFmt ? 1 : 2;
        t.vt = VT_USERDEFINED;
        t.hreftype = Reference(from, enums_[index]);
        break;
      }
      case AutoType::TxVNCProtocol:
        t.vt = VT_USERDEFINED;
        t.hreftype = Reference(from, enums2_[0]);
        break;
    }
    return t;
  }

  // `firstSlot`: the vtable slot of the first member, when the writer is
  // not to place them itself.
  void WriteInterface(ComPtr<ICreateTypeInfo>& info, HREFTYPE base, std::span<const Member> members, const char* name,
                      UINT firstSlot = 0) {
    Check(info->AddImplType(0, base), std::string(name) + " base");
    UINT index = 0;
    for (const Member& m : members) {
      TYPEDESC valueType = Type(info, m.type);
      TYPEDESC pointer{};
      pointer.vt = VT_PTR;
      pointer.lptdesc = &valueType;
      ELEMDESC parameter{};
      std::vector<std::wstring> names{Widen(m.name)};
      FUNCDESC desc{};
      desc.memid = m.dispid;
      if (firstSlot) desc.oVft = static_cast<SHORT>((firstSlot + index) * kSlotBytes);
      desc.funckind = FUNC_PUREVIRTUAL;
      desc.callconv = CC_STDCALL;
      desc.elemdescFunc.tdesc.vt = VT_HRESULT;
      desc.wFuncFlags = static_cast<WORD>(m.hidden ? FUNCFLAG_FHIDDEN : 0);
      desc.invkind = INVOKE_FUNC;
      switch (m.kind) {
        case MemberKind::Method: break;
        case MemberKind::PropertyGet:
        case MemberKind::MethodWithResult:
          if (m.kind == MemberKind::PropertyGet) desc.invkind = INVOKE_PROPERTYGET;
          parameter.tdesc = pointer;
          parameter.paramdesc.wParamFlags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
          names.push_back(L"Value");
          break;
        case MemberKind::PropertyPut:
          desc.invkind = INVOKE_PROPERTYPUT;
          parameter.tdesc = valueType;
          parameter.paramdesc.wParamFlags = PARAMFLAG_FIN;
          break;
        case MemberKind::MethodWithInput:
          parameter.tdesc = valueType;
          parameter.paramdesc.wParamFlags = PARAMFLAG_FIN;
          names.push_back(Widen(m.parameter));
          break;
      }
      if (m.kind != MemberKind::Method) {
        desc.cParams = 1;
        desc.lprgelemdescParam = &parameter;
      }
      Check(info->AddFuncDesc(index, &desc), std::string("member ") + m.name);
      std::vector<LPOLESTR> pointers;
      for (auto& n : names) pointers.push_back(const_cast<LPOLESTR>(n.c_str()));
      Check(info->SetFuncAndParamNames(index, pointers.data(), static_cast<UINT>(pointers.size())),
            std::string("names of ") + m.name);
      ++index;
    }
  }

  void WriteEvents(ComPtr<ICreateTypeInfo>& info, std::span<const Event> events, const char* name) {
    Check(info->AddImplType(0, Reference(info, dispatch_.Get())), std::string(name) + " base");
    UINT index = 0;
    for (const Event& e : events) {
      std::vector<TYPEDESC> types(e.parameters.size());
      std::vector<ELEMDESC> parameters(e.parameters.size());
      std::vector<std::wstring> names{Widen(e.name)};
      for (std::size_t i = 0; i < e.parameters.size(); ++i) {
        const EventParameter& p = e.parameters[i];
        types[i] = Type(info, p.type);
        if (p.byReference) {
          parameters[i].tdesc.vt = VT_PTR;
          parameters[i].tdesc.lptdesc = &types[i];
          parameters[i].paramdesc.wParamFlags = PARAMFLAG_FIN | PARAMFLAG_FOUT;
        } else {
          parameters[i].tdesc = types[i];
          parameters[i].paramdesc.wParamFlags = PARAMFLAG_FIN;
        }
        names.push_back(Widen(p.name));
      }
      FUNCDESC desc{};
      desc.memid = e.dispid;
      desc.funckind = FUNC_DISPATCH;
      desc.invkind = INVOKE_FUNC;
      desc.callconv = CC_STDCALL;
      desc.elemdescFunc.tdesc.vt = VT_VOID;
      desc.cParams = static_cast<SHORT>(parameters.size());
      desc.lprgelemdescParam = parameters.empty() ? nullptr : parameters.data();
      Check(info->AddFuncDesc(index, &desc), std::string("event ") + e.name);
      std::vector<LPOLESTR> pointers;
      for (auto& n : names) pointers.push_back(const_cast<LPOLESTR>(n.c_str()));
      Check(info->SetFuncAndParamNames(index, pointers.data(), static_cast<UINT>(pointers.size())),
            std::string("names of ") + e.name);
      ++index;
    }
  }

  ComPtr<ICreateTypeLib2> library_;
  ComPtr<ITypeInfo> dispatch_;
  ComPtr<ITypeInfo> oleColor_;
  std::vector<ComPtr<ICreateTypeInfo>> enums_;   // Enumerations()
  std::vector<ComPtr<ICreateTypeInfo>> enums2_;  // Enumerations2()
};

}  // namespace
}  // namespace telorus::control::win32

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-typelib OUTPUT.tlb\n");
    return 2;
  }
  if (FAILED(CoInitialize(nullptr))) {
    std::fprintf(stderr, "make-typelib: COM could not be initialised\n");
    return 1;
  }
  int status = 0;
  try {
    wchar_t path[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH)) throw std::runtime_error("bad output path");
    telorus::control::win32::Writer writer(path);
    writer.Write();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-typelib: %s\n", e.what());
    status = 1;
  }
  CoUninitialize();
  return status;
}
