# Hardening of every program built here, where the toolchain has it:
#  - stack protector: a canary in every function with an array or a local whose address
#    is taken;
#  - _FORTIFY_SOURCE=2: memcpy, strcpy, snprintf and kin checked against the object's size
#    where the compiler knows it. It needs optimisation (glibc warns, and -Werror fails, at
#    -O0), and sanitizer builds check these calls themselves (their interceptors and the
#    checked variants get in each other's way): only optimised builds without sanitizers;
#  - ELF: PIE, full RELRO and BIND_NOW (every symbol bound at start, then the GOT made
#    read-only);
#  - PE: ASLR with the whole 64-bit address space (dynamicbase, high-entropy-va) and DEP
#    (nxcompat), said explicitly rather than left to the linker's defaults.
# tests/hardening reads the built programs' headers for these.
if(MSVC)
  return()
endif()

string(FIND "${CMAKE_CXX_FLAGS}" "-fsanitize" kalv_flags_sanitize)
if(KALV_SANITIZE OR NOT kalv_flags_sanitize EQUAL -1)
  set(KALV_SANITIZED ON)
else()
  set(KALV_SANITIZED OFF)
endif()

add_compile_options(-fstack-protector-strong)
# On mingw-w64 the driver links libssp (the canary's and the checked calls' code) only
# when it sees the flag at the link too.
add_link_options(-fstack-protector-strong)
if(NOT KALV_SANITIZED)
  set(kalv_optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
  # -U first: a compiler that already defines it (as some distributions' do) would
  # otherwise warn of a redefinition.
  add_compile_options($<${kalv_optimised}:-U_FORTIFY_SOURCE> $<${kalv_optimised}:-D_FORTIFY_SOURCE=2>)
endif()

if(MINGW)
  add_link_options(-Wl,--dynamicbase,--nxcompat,--high-entropy-va)
elseif(NOT APPLE)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES C CXX)
  add_link_options(-Wl,-z,relro,-z,now)
endif()

# kalv_delay_import(<dll>): the import library kalv_delay_<dll>, made from
# cmake/delayload/<dll>.def, whose functions load <dll> at their first call instead of
# at the program's start. A run that never shows a dialog never loads comdlg32, and a
# DLL that is loaded comes from System32 alone: main restricts the search first
# (platform/library_search.h), and the DLLs still imported at start are KnownDLLs,
# which the loader maps from System32 whatever the search path.
function(kalv_delay_import dll)
  set(def ${PROJECT_SOURCE_DIR}/cmake/delayload/${dll}.def)
  set(lib ${PROJECT_BINARY_DIR}/delayload/libkalv_delay_${dll}.a)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/delayload)
  # Run in the library's folder: dlltool names its symbols after the output path.
  execute_process(COMMAND ${KALV_DLLTOOL} --input-def ${def} --output-delaylib libkalv_delay_${dll}.a
                  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/delayload RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${KALV_DLLTOOL} could not make the delay-load library of ${dll}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  add_library(kalv_delay_${dll} STATIC IMPORTED GLOBAL)
  set_target_properties(kalv_delay_${dll} PROPERTIES IMPORTED_LOCATION ${lib})
endfunction()

if(MINGW)
  find_program(KALV_DLLTOOL NAMES ${CMAKE_DLLTOOL} ${KALV_MINGW_PREFIX}-dlltool dlltool REQUIRED)
  foreach(dll bcrypt comctl32 comdlg32 ole32 shell32 winhttp)
    kalv_delay_import(${dll})
  endforeach()
endif()
