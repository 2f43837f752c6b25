// The type library inside a built COM server against its expectations,
// written out by hand: library, classes, interfaces, and every member's slot,
// DISPID, kind, parameter names, types and flags, in both builds. The
// environment names the DLL (VM_TYPELIB_DLL), the expectations
// (VM_TYPELIB_EXPECTED, relative to the source tree) and how many classes,
// interfaces and members they must list (VM_TYPELIB_COUNTS, "3 3 58"), so
// that a line lost from the file cannot go unnoticed.
#include <windows.h>

#include <gtest/gtest.h>
#include <oleauto.h>

#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text)
    out += static_cast<char>(*text);
  return out;
}

std::string GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return Narrow(text);
}

struct Parameter {
  std::string name, type, flags;
};
struct Member {
  std::string interfaceName, kind, name;
  int slot = 0;
  DISPID dispid = 0;
  std::vector<Parameter> parameters;
};
struct Expected {
  std::string library, libraryGuid, version, lcid, libraryHelp;
  std::vector<std::vector<std::string>> coclasses;   // name, guid, help, default
  std::vector<std::vector<std::string>> interfaces;  // name, guid, help
  std::vector<Member> members;
};

Expected ReadExpected() {
  std::ifstream file(std::string(std::getenv("VM_SOURCE_DIR")) + "/" + std::getenv("VM_TYPELIB_EXPECTED"));
  Expected expected;
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    std::string what;
    if (!(fields >> what) || what[0] == '#') continue;
    if (what == "library") {
      fields >> expected.library >> expected.libraryGuid >> expected.version >> expected.lcid >>
          std::quoted(expected.libraryHelp);
    } else if (what == "coclass" || what == "interface") {
      std::string name, guid, help, defaultInterface;
      fields >> name >> guid >> std::quoted(help) >> defaultInterface;
      (what == "coclass" ? expected.coclasses : expected.interfaces).push_back({name, guid, help, defaultInterface});
    } else if (what == "member") {
      Member member;
      std::string dispid, parameter;
      fields >> member.interfaceName >> member.slot >> dispid >> member.kind >> member.name;
      member.dispid = static_cast<DISPID>(std::stol(dispid, nullptr, 0));
      while (fields >> parameter) {
        const auto first = parameter.find(':'), second = parameter.rfind(':');
        member.parameters.push_back({parameter.substr(0, first), parameter.substr(first + 1, second - first - 1),
                                     parameter.substr(second + 1)});
      }
      expected.members.push_back(member);
    } else {
      ADD_FAILURE() << "unknown line: " << line;
    }
  }
  return expected;
}

std::string TypeText(const TYPEDESC& type) {
  switch (type.vt) {
    case VT_BSTR:
      return "BSTR";
    case VT_I4:
      return "long";
    case VT_BOOL:
      return "VARIANT_BOOL";
    case VT_VARIANT:
      return "VARIANT";
    case VT_PTR:
      return TypeText(*type.lptdesc) + "*";
    default:
      return "vt" + std::to_string(type.vt);
  }
}

std::string FlagsText(USHORT flags) {
  switch (flags) {
    case PARAMFLAG_FIN:
      return "in";
    case PARAMFLAG_FIN | PARAMFLAG_FOUT:
      return "inout";
    case PARAMFLAG_FOUT | PARAMFLAG_FRETVAL:
      return "outretval";
    default:
      return "flags" + std::to_string(flags);
  }
}

std::string KindText(INVOKEKIND kind) {
  switch (kind) {
    case INVOKE_FUNC:
      return "method";
    case INVOKE_PROPERTYGET:
      return "get";
    case INVOKE_PROPERTYPUT:
      return "put";
    default:
      return "kind" + std::to_string(kind);
  }
}

std::string Name(ITypeInfo* info, MEMBERID id = MEMBERID_NIL, std::string* help = nullptr) {
  BSTR name = nullptr, doc = nullptr;
  EXPECT_EQ(info->GetDocumentation(id, &name, &doc, nullptr, nullptr), S_OK);
  std::string text = Narrow(name);
  if (help != nullptr) *help = Narrow(doc);
  SysFreeString(name);
  SysFreeString(doc);
  return text;
}

ITypeInfo* Referenced(ITypeInfo* info, UINT index) {
  HREFTYPE reference = 0;
  ITypeInfo* other = nullptr;
  EXPECT_EQ(info->GetRefTypeOfImplType(index, &reference), S_OK);
  EXPECT_EQ(info->GetRefTypeInfo(reference, &other), S_OK);
  return other;
}

class TypeLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dll = std::getenv("VM_TYPELIB_DLL");
    ASSERT_NE(dll, nullptr);
    ASSERT_NE(std::getenv("VM_TYPELIB_EXPECTED"), nullptr);
    std::istringstream counts(std::getenv("VM_TYPELIB_COUNTS") != nullptr ? std::getenv("VM_TYPELIB_COUNTS") : "");
    ASSERT_TRUE(counts >> coclasses_ >> interfaces_ >> members_);
    ASSERT_EQ(LoadTypeLibEx(Wide(std::string("Z:") + dll).c_str(), REGKIND_NONE, &library_), S_OK);
    expected_ = ReadExpected();
  }
  void TearDown() override {
    if (library_ != nullptr) library_->Release();
  }
  ITypeInfo* Find(const std::string& guid) {
    GUID id{};
    EXPECT_EQ(CLSIDFromString(Wide(guid).c_str(), &id), S_OK) << guid;
    ITypeInfo* info = nullptr;
    EXPECT_EQ(library_->GetTypeInfoOfGuid(id, &info), S_OK) << guid;
    return info;
  }

  ITypeLib* library_ = nullptr;
  Expected expected_;
  std::size_t coclasses_ = 0, interfaces_ = 0, members_ = 0;
};

TEST_F(TypeLibrary, LibraryAndClasses) {
  ASSERT_EQ(expected_.coclasses.size(), coclasses_);
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(library_->GetLibAttr(&attributes), S_OK);
  EXPECT_EQ(GuidText(attributes->guid), expected_.libraryGuid);
  EXPECT_EQ(std::to_string(attributes->wMajorVerNum) + "." + std::to_string(attributes->wMinorVerNum),
            expected_.version);
  EXPECT_EQ(attributes->lcid, std::stoul(expected_.lcid, nullptr, 0));
  EXPECT_EQ(attributes->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  library_->ReleaseTLibAttr(attributes);
  BSTR name = nullptr, help = nullptr;
  ASSERT_EQ(library_->GetDocumentation(-1, &name, &help, nullptr, nullptr), S_OK);
  EXPECT_EQ(Narrow(name), expected_.library);
  EXPECT_EQ(Narrow(help), expected_.libraryHelp);
  SysFreeString(name);
  SysFreeString(help);
  EXPECT_EQ(library_->GetTypeInfoCount(), expected_.coclasses.size() + expected_.interfaces.size());

  for (const auto& row : expected_.coclasses) {
    ITypeInfo* info = Find(row[1]);
    ASSERT_NE(info, nullptr);
    std::string doc;
    EXPECT_EQ(Name(info, MEMBERID_NIL, &doc), row[0]);
    EXPECT_EQ(doc, row[2]);
    TYPEATTR* type = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, TKIND_COCLASS) << row[0];
    EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FCANCREATE) << row[0];
    EXPECT_EQ(type->cImplTypes, 1) << row[0];
    info->ReleaseTypeAttr(type);
    INT flags = 0;
    EXPECT_EQ(info->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT) << row[0];
    ITypeInfo* implemented = Referenced(info, 0);
    ASSERT_NE(implemented, nullptr);
    EXPECT_EQ(Name(implemented), row[3]);
    implemented->Release();
    info->Release();
  }
}

TEST_F(TypeLibrary, InterfacesAndMembers) {
  ASSERT_EQ(expected_.interfaces.size(), interfaces_);
  ASSERT_EQ(expected_.members.size(), members_);
  const UINT pointer = sizeof(void*);
  for (const auto& row : expected_.interfaces) {
    SCOPED_TRACE(row[0]);
    ITypeInfo* dispatch = Find(row[1]);
    ASSERT_NE(dispatch, nullptr);
    std::string doc;
    EXPECT_EQ(Name(dispatch, MEMBERID_NIL, &doc), row[0]);
    EXPECT_EQ(doc, row[2]);
    TYPEATTR* type = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FDUAL);
    dispatch->ReleaseTypeAttr(type);

    // The vtable view: from IDispatch, the members at their slots.
    ITypeInfo* vtable = Referenced(dispatch, static_cast<UINT>(-1));
    ASSERT_NE(vtable, nullptr);
    ASSERT_EQ(vtable->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    const UINT functions = type->cFuncs;
    const UINT tableSize = type->cbSizeVft;
    vtable->ReleaseTypeAttr(type);
    ITypeInfo* base = Referenced(vtable, 0);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(Name(base), "IDispatch");
    base->Release();

    std::map<UINT, FUNCDESC*> bySlot;
    for (UINT index = 0; index < functions; ++index) {
      FUNCDESC* function = nullptr;
      ASSERT_EQ(vtable->GetFuncDesc(index, &function), S_OK);
      bySlot[function->oVft / pointer] = function;
    }
    UINT listed = 0, lastSlot = 0;
    for (const Member& member : expected_.members) {
      if (member.interfaceName != row[0]) continue;
      SCOPED_TRACE(member.name + " slot " + std::to_string(member.slot));
      ++listed;
      lastSlot = std::max<UINT>(lastSlot, member.slot);
      ASSERT_EQ(bySlot.count(member.slot), 1u);
      const FUNCDESC* function = bySlot[member.slot];
      EXPECT_EQ(function->oVft, member.slot * pointer);
      EXPECT_EQ(function->memid, member.dispid);
      EXPECT_EQ(KindText(function->invkind), member.kind);
      EXPECT_EQ(function->callconv, CC_STDCALL);
      EXPECT_EQ(function->elemdescFunc.tdesc.vt, VT_HRESULT);
      std::string memberHelp = "unread";
      Name(vtable, function->memid, &memberHelp);
      EXPECT_EQ(memberHelp, "");
      ASSERT_EQ(function->cParams, static_cast<SHORT>(member.parameters.size()));
      BSTR names[8] = {};
      UINT count = 0;
      ASSERT_EQ(vtable->GetNames(function->memid, names, 8, &count), S_OK);
      EXPECT_EQ(Narrow(names[0]), member.name);
      // GetNames answers for the first function of a DISPID: a put after
      // its get shows the get's parameter names, its own cannot be read.
      bool firstOfItsId = true;
      for (const auto& [slot, other] : bySlot)
        firstOfItsId = firstOfItsId && !(slot < static_cast<UINT>(member.slot) && other->memid == function->memid);
      for (UINT index = 0; index < member.parameters.size(); ++index) {
        const Parameter& parameter = member.parameters[index];
        const ELEMDESC& element = function->lprgelemdescParam[index];
        if (firstOfItsId) {
          EXPECT_EQ(index + 1 < count ? Narrow(names[index + 1]) : "", parameter.name);
        }
        EXPECT_EQ(TypeText(element.tdesc), parameter.type) << parameter.name;
        EXPECT_EQ(FlagsText(element.paramdesc.wParamFlags), parameter.flags) << parameter.name;
      }
      for (UINT index = 0; index < count; ++index)
        SysFreeString(names[index]);

      // Late binding finds the member, and a method's parameters, by name.
      std::vector<std::wstring> wanted{Wide(member.name)};
      if (member.kind == "method") {
        for (const Parameter& parameter : member.parameters)
          wanted.push_back(Wide(parameter.name));
      }
      std::vector<LPOLESTR> pointers;
      for (std::wstring& text : wanted)
        pointers.push_back(text.data());
      std::vector<MEMBERID> ids(wanted.size(), -2);
      ASSERT_EQ(dispatch->GetIDsOfNames(pointers.data(), static_cast<UINT>(pointers.size()), ids.data()), S_OK);
      EXPECT_EQ(ids[0], member.dispid);
      for (UINT index = 1; index < ids.size(); ++index)
        EXPECT_EQ(ids[index], static_cast<MEMBERID>(index - 1));
    }
    EXPECT_EQ(listed, functions);
    EXPECT_EQ(tableSize, (lastSlot + 1) * pointer);
    for (auto& [slot, function] : bySlot)
      vtable->ReleaseFuncDesc(function);
    vtable->Release();
    dispatch->Release();
  }
}

}  // namespace
