# GoogleTest is built from Debian's source package (/usr/src/googletest) so that the
# native, sanitizer and mingw-w64 builds all link a gtest made by their own compiler.
function(kalv_enable_gtest)
  if(TARGET gtest_main)
    return()
  endif()
  set(KALV_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(NOT EXISTS ${KALV_GTEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found at ${KALV_GTEST_SOURCE}: apt-get install libgtest-dev")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  # SYSTEM: the tests see GoogleTest's headers as a system library's, so our warnings
  # stop at them; its own sources are not ours to fix.
  add_subdirectory(${KALV_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(target gtest gtest_main gmock gmock_main)
    target_compile_options(${target} PRIVATE -w)
  endforeach()
endfunction()

# kalv_add_test(NAME <name> SOURCES <files...> [LIBS <libs...>] [LABELS <labels...>] [NATIVE_ONLY] [BOTH_WAYS])
# One GoogleTest executable = one CTest test; in the Windows build CTest runs it under Wine.
# BOTH_WAYS: the test runs with the extraction core's second core forced on, and a twin
# <name>_serial with it off (kalv_add_both_ways).
function(kalv_add_test)
  cmake_parse_arguments(T "NATIVE_ONLY;BOTH_WAYS" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(T_NATIVE_ONLY AND CMAKE_CROSSCOMPILING)
    return()
  endif()
  kalv_enable_gtest()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} gmock kalv_test_main)
  target_compile_definitions(${T_NAME} PRIVATE KALV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  if(T_BOTH_WAYS)
    kalv_add_both_ways(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
    set_tests_properties(${T_NAME} ${T_NAME}_serial PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  endif()
endfunction()

# kalv_add_both_ways(NAME <name> COMMAND <command...>)
# The test <name> with KALV_THREADS=1 (an encrypted entry decrypted on a second core
# however small) and its twin <name>_serial with KALV_THREADS=0 (one core), so that the
# same events, transcripts and files are checked both ways. Properties set afterwards
# go to both names; ENVIRONMENT must not be set again.
function(kalv_add_both_ways)
  cmake_parse_arguments(T "" "NAME" "COMMAND" ${ARGN})
  add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
  add_test(NAME ${T_NAME}_serial COMMAND ${T_COMMAND})
  set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT KALV_THREADS=1)
  set_tests_properties(${T_NAME}_serial PROPERTIES ENVIRONMENT KALV_THREADS=0)
endfunction()

# kalv_publish_headers(<target> <folder>)
# A library publishes its own headers, src/<folder>/..., and nothing else of src/: its
# include root is a folder of the build tree that holds one symbolic link, <folder> ->
# src/<folder>. Includes keep their "<folder>/name.h" form, and a target sees only the
# folders of the libraries it links, so an include that goes up the layers (or to a
# library not linked) does not build. Both builds run on a POSIX host (the Windows one
# is a cross build), where the link is an ordinary one; the compiler sees the headers
# through it and depfiles track edits as usual.
function(kalv_publish_headers target folder)
  set(root ${PROJECT_BINARY_DIR}/include_roots/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()
