#include "core/platform/LibraryBinder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using ConnectProc = std::int32_t(__stdcall*)(const char*);
using ReloadProc = std::int32_t(__stdcall*)();

struct Table {
  ConnectProc connect = nullptr;  // exported by both stand-ins
  ReloadProc reload = nullptr;    // missing from the partial one
};

void BindRequired(core::EntryBinder& binder, Table& t) {
  binder.Required("DBSetConnection", t.connect);
  binder.Required("DBReloadConfig", t.reload);
}

void BindOptional(core::EntryBinder& binder, Table& t) {
  binder.Optional("DBSetConnection", t.connect);
  binder.Optional("DBReloadConfig", t.reload);
}

bool Mapped(const std::string& path) { return ::GetModuleHandleA(path.c_str()) != nullptr; }

TEST(LibraryBinder, BindsEverythingRequiredOrNothing) {
  const std::string full = DB_STANDIN_PATH, partial = DB_STANDIN_PARTIAL_PATH;
  struct Row {
    const char* name;
    std::string path;
    core::BoundLibrary<Table>::BindTable bind;
    bool loaded, connect, reload;
  };
  const Row rows[] = {
      {"full, all required", full, &BindRequired, true, true, true},
      {"partial, one required missing", partial, &BindRequired, false, false, false},
      {"partial, optional", partial, &BindOptional, true, true, false},
      {"no such file", full + ".absent", &BindRequired, false, false, false},
      {"empty path", "", &BindOptional, false, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    core::BoundLibrary<Table> library;
    EXPECT_EQ(library.Load(row.path, LOAD_WITH_ALTERED_SEARCH_PATH, row.bind), row.loaded);
    EXPECT_EQ(library.loaded(), row.loaded);
    EXPECT_EQ(library.entries().connect != nullptr, row.connect);
    EXPECT_EQ(library.entries().reload != nullptr, row.reload);
    // A refused library is not left mapped.
    if (!row.path.empty()) {
      EXPECT_EQ(Mapped(row.path), row.loaded);
    }
  }
}

TEST(LibraryBinder, FreesOnceAndLoadsAgain) {
  const std::string path = DB_STANDIN_PATH;
  core::BoundLibrary<Table> library;
  ASSERT_TRUE(library.Load(path, 0, &BindRequired));
  const HMODULE first = library.module();
  EXPECT_TRUE(library.Load(path, 0, &BindOptional));  // loaded already: kept as it is
  EXPECT_EQ(library.module(), first);
  // One reference of the test's own: Free gives back exactly the binder's one.
  const HMODULE own = ::LoadLibraryA(path.c_str());
  library.Free();
  EXPECT_EQ(library.entries().connect, nullptr);
  EXPECT_TRUE(Mapped(path));
  library.Free();
  EXPECT_TRUE(Mapped(path));
  ::FreeLibrary(own);
  EXPECT_FALSE(Mapped(path));
  EXPECT_TRUE(library.Load(path, 0, &BindRequired));
  EXPECT_NE(library.entries().reload, nullptr);
}

}  // namespace
