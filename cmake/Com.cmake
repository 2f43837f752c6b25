# Type libraries and resources of the COM servers (Windows presets only).
#   vm_typelib(name IDL file.idl [RESOURCES file.rc ...])
# Runs widl for the preset's architecture over IDL and makes the object
# library `name`: the interface and class identifiers (<stem>_i.c), the type
# library as resource TYPELIB 1, and the given resource scripts (string
# tables...), all compiled with windres. Its users see the generated
# <stem>.h as a system header; COM class targets also call vm_com(). A client
# of the server (another library, a test) links `name_ids` instead: the
# header and the identifiers without the type library.
set(VM_WIDL ${VM_MINGW_ARCH}-w64-mingw32-widl CACHE STRING "widl of the preset's architecture")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(vm_widl_bits --win64)
  set(vm_wine_arch x86_64)
  set(vm_wine_multiarch x86_64-linux-gnu)
else()
  set(vm_widl_bits --win32)
  set(vm_wine_arch i386)
  set(vm_wine_multiarch i386-linux-gnu)
endif()
# oaidl.idl and friends; stdole2.tlb of the same architecture for importlib.
find_path(VM_WIDL_INCLUDE oaidl.idl PATHS /usr/include/wine/wine/windows NO_CMAKE_FIND_ROOT_PATH)
find_path(VM_WIDL_STDOLE stdole2.tlb PATHS /usr/lib/${vm_wine_multiarch}/wine/${vm_wine_arch}-windows
  NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)

function(vm_typelib name)
  cmake_parse_arguments(L "" "IDL" "RESOURCES" ${ARGN})
  if(NOT VM_WIDL_INCLUDE OR NOT VM_WIDL_STDOLE)
    message(FATAL_ERROR "vm_typelib(${name}): oaidl.idl or stdole2.tlb not found (the wine development files)")
  endif()
  get_filename_component(idl ${L_IDL} ABSOLUTE)
  get_filename_component(stem ${L_IDL} NAME_WE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${name})
  file(MAKE_DIRECTORY ${out})
  set(widl ${VM_WIDL} ${vm_widl_bits} -I${VM_WIDL_INCLUDE} -L${VM_WIDL_STDOLE})
  add_custom_command(
    OUTPUT ${out}/${stem}.h ${out}/${stem}_i.c ${out}/${stem}.tlb
    COMMAND ${widl} -h -o ${out}/${stem}.h ${idl}
    COMMAND ${widl} -u -o ${out}/${stem}_i.c ${idl}
    COMMAND ${widl} -t -o ${out}/${stem}.tlb ${idl}
    DEPENDS ${idl}
    COMMENT "widl ${vm_widl_bits} ${L_IDL}"
    VERBATIM)
  file(CONFIGURE OUTPUT ${out}/${stem}_tlb.rc CONTENT "1 TYPELIB \"${out}/${stem}.tlb\"\n")
  set_source_files_properties(${out}/${stem}_tlb.rc PROPERTIES OBJECT_DEPENDS ${out}/${stem}.tlb)
  add_library(${name} OBJECT ${out}/${stem}_i.c ${out}/${stem}_tlb.rc ${out}/${stem}.h ${L_RESOURCES})
  target_include_directories(${name} SYSTEM PUBLIC ${out})
  add_library(${name}_ids OBJECT ${out}/${stem}_i.c ${out}/${stem}.h)
  target_include_directories(${name}_ids SYSTEM PUBLIC ${out})
endfunction()
