# Windows part of the configuration group: the process-wide settings record,
# folders, path overrides and the settings file. A leaf above core/util and
# core/platform only.
add_library(core_store STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ConfigFiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConfigStore.cpp
)
target_include_directories(core_store PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(core_store PUBLIC core_settings core_util core_platform)
vm_strict(core_store)
