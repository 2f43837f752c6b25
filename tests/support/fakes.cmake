# Fake mail server services and windows (fake_service.exe, FakeServiceSet,
# FakeWindow) for the control channel's tests and for anything that notifies
# the services. Tests that add fakes take the CTest resource lock "services".
add_executable(fake_service fake_service.cpp fake_window.cpp)
target_include_directories(fake_service PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(fake_service PRIVATE advapi32 user32)
vm_strict(fake_service)

add_library(fakes STATIC fake_services.cpp fake_window.cpp)
target_include_directories(fakes PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_definitions(fakes PRIVATE VM_FAKE_SERVICE_EXE="$<TARGET_FILE:fake_service>")
target_link_libraries(fakes PUBLIC advapi32 user32)
add_dependencies(fakes fake_service)
vm_strict(fakes)
