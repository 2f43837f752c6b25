# Windows part of the configuration group: the process-wide lock table and the
# configuration store.
add_library(core_store STATIC
  ${CMAKE_CURRENT_LIST_DIR}/LockTable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConfigFiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConfigStore.cpp
)
target_include_directories(core_store PUBLIC ${PROJECT_SOURCE_DIR})
# The store loads the domain table, sizes the caches and connects the
# database back end, each of which uses the lock table or the settings held
# here; CMake links such mutually dependent static libraries together.
target_link_libraries(core_store PUBLIC core_settings core_util core_platform core_domains core_accounts core_db)
vm_strict(core_store)
