# Small Windows DLLs built here with mingw-w64: the PE reader's tests read
# them on every build, the loader's tests (32-bit x86) also run them. Test
# programs link pe_fixtures: it builds the DLLs first, tells the folder
# (QM_PE_FIXTURES) and gives pe_fixtures.h.
find_program(QM_MINGW_GCC NAMES i686-w64-mingw32-gcc REQUIRED)
find_program(QM_MINGW_DLLTOOL NAMES i686-w64-mingw32-dlltool REQUIRED)
find_program(QM_MINGW_WINDRES NAMES i686-w64-mingw32-windres REQUIRED)
find_program(QM_MINGW64_GCC NAMES x86_64-w64-mingw32-gcc REQUIRED)

set(fx ${CMAKE_CURRENT_LIST_DIR})
set(QM_PE_FIXTURES ${CMAKE_BINARY_DIR}/pe_fixtures)
file(MAKE_DIRECTORY ${QM_PE_FIXTURES})
set(out ${QM_PE_FIXTURES})
set(nocrt -O1 -Wall -nostdlib -shared -Wl,-e,_entry@12)

add_custom_command(
  OUTPUT ${out}/pe_basic.dll
  COMMAND ${QM_MINGW_DLLTOOL} -d ${fx}/basic_host.def -l ${out}/libfixture_host.a
  COMMAND ${QM_MINGW_WINDRES} -O coff -i ${fx}/basic.rc -o ${out}/basic_rc.o
  COMMAND ${QM_MINGW_GCC} ${nocrt} -Wl,--image-base,0x63000000
          ${fx}/basic.c ${fx}/basic.def ${out}/basic_rc.o ${out}/libfixture_host.a -o ${out}/pe_basic.dll
  DEPENDS ${fx}/basic.c ${fx}/basic.def ${fx}/basic_host.def ${fx}/basic.rc
  COMMENT "Building the basic Windows DLL fixture")
add_custom_command(
  OUTPUT ${out}/pe_runtime.dll
  COMMAND ${QM_MINGW_GCC} -O1 -shared -static-libgcc ${fx}/runtime.c -o ${out}/pe_runtime.dll
  DEPENDS ${fx}/runtime.c
  COMMENT "Building a Windows DLL on the mingw runtime")
add_custom_command(
  OUTPUT ${out}/pe_unprovided.dll
  COMMAND ${QM_MINGW_GCC} ${nocrt} ${fx}/unprovided.c ${fx}/unprovided.def -lkernel32 -o ${out}/pe_unprovided.dll
  DEPENDS ${fx}/unprovided.c ${fx}/unprovided.def
  COMMENT "Building a Windows DLL with imports the host lacks")
add_custom_command(
  OUTPUT ${out}/pe_amd64.dll
  COMMAND ${QM_MINGW64_GCC} -O1 -nostdlib -shared -Wl,-e,entry ${fx}/amd64.c -o ${out}/pe_amd64.dll
  DEPENDS ${fx}/amd64.c
  COMMENT "Building a 64-bit Windows DLL")
add_custom_target(pe_fixture_dlls DEPENDS
  ${out}/pe_basic.dll ${out}/pe_runtime.dll ${out}/pe_unprovided.dll ${out}/pe_amd64.dll)

add_library(pe_fixtures INTERFACE)
target_include_directories(pe_fixtures INTERFACE ${fx})
target_compile_definitions(pe_fixtures INTERFACE QM_PE_FIXTURES="${QM_PE_FIXTURES}")
add_dependencies(pe_fixtures pe_fixture_dlls)
