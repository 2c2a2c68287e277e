include(${CMAKE_CURRENT_LIST_DIR}/Layers.cmake)

# The compiler warnings of every project target; with MPTOOL_WERROR they are errors.
add_library(mp_warnings INTERFACE)
target_compile_options(mp_warnings INTERFACE -Wall -Wextra $<$<BOOL:${MPTOOL_WERROR}>:-Werror>)

# The project's version for the programs that print it: #include "mptool_version.h".
configure_file(${CMAKE_CURRENT_LIST_DIR}/mptool_version.h.in ${PROJECT_BINARY_DIR}/include/mp_version/mptool_version.h
               @ONLY)
add_library(mp_version INTERFACE)
target_include_directories(mp_version INTERFACE ${PROJECT_BINARY_DIR}/include/mp_version)

# mptool_public_headers(<target> <source folder> <include folder>): the headers of the
# source folder (not of its subfolders) are found as "<include folder>/<header>" by the
# target and by whatever links it, and no other header of the tree is. Each is a link in a
# folder of the build tree that belongs to the target alone.
function(mptool_public_headers target src_dir include_folder)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  set(dir ${root}/${include_folder})
  file(GLOB headers CONFIGURE_DEPENDS ${src_dir}/*.h)
  file(MAKE_DIRECTORY ${dir})
  set(names)
  foreach(h ${headers})
    get_filename_component(n ${h} NAME)
    list(APPEND names ${n})
    set(to "")
    if(IS_SYMLINK ${dir}/${n})
      file(READ_SYMLINK ${dir}/${n} to)
    endif()
    if(NOT to STREQUAL h)
      file(CREATE_LINK ${h} ${dir}/${n} SYMBOLIC)
    endif()
  endforeach()
  file(GLOB present LIST_DIRECTORIES true ${dir}/*)
  foreach(p ${present})
    get_filename_component(n ${p} NAME)
    if(NOT n IN_LIST names)
      file(REMOVE_RECURSE ${p})  # a header that is gone
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# Stops the configure when a target links a project library of a layer out of its reach.
# The links are checked once every library is defined, so a link upwards is seen too.
function(mptool_check_layer_links target reach)
  string(REPLACE ";" "," reach "${reach}")
  string(REPLACE ";" "," deps "${ARGN}")
  set_property(GLOBAL APPEND PROPERTY MPTOOL_LAYER_LINKS "${target}|${reach}|${deps}")
endfunction()
function(_mptool_check_all_layer_links)
  get_property(records GLOBAL PROPERTY MPTOOL_LAYER_LINKS)
  foreach(record ${records})
    string(REPLACE "|" ";" record "${record}")
    list(GET record 0 target)
    list(GET record 1 reach)
    list(GET record 2 deps)
    string(REPLACE "," ";" reach "${reach}")
    string(REPLACE "," ";" deps "${deps}")
    foreach(dep ${deps})
      if(TARGET ${dep})
        get_target_property(layer ${dep} MPTOOL_LAYER)
        if(layer AND NOT layer IN_LIST reach)
          message(FATAL_ERROR "${target} may not link ${dep}: ${layer} is out of its reach (cmake/Layers.cmake)")
        endif()
      endif()
    endforeach()
  endforeach()
endfunction()
cmake_language(DEFER CALL _mptool_check_all_layer_links)

# One static library per source folder, mp_<name>. Sources are picked up by glob so that a
# new file in a folder needs no edit here. DEPS names the project libraries its headers use,
# PRIVATE_DEPS those only its sources use; LIBS the outside libraries its sources use,
# PUBLIC_LIBS those its headers expose.
function(mptool_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;PRIVATE_DEPS;LIBS;PUBLIC_LIBS;EXCLUDE" ${ARGN})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(x ${ARG_EXCLUDE})
    list(FILTER srcs EXCLUDE REGEX ".*/${x}$")
  endforeach()
  if(NOT srcs)
    # a folder whose code is still to come
    if(NOT EXISTS ${CMAKE_CURRENT_BINARY_DIR}/empty_${name}.cpp)
      file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/empty_${name}.cpp "")
    endif()
    set(srcs ${CMAKE_CURRENT_BINARY_DIR}/empty_${name}.cpp)
  endif()
  add_library(mp_${name} STATIC ${srcs})
  set_target_properties(mp_${name} PROPERTIES MPTOOL_LAYER ${folder})
  mptool_layer_reach(${folder} reach)
  if(NOT reach)
    message(FATAL_ERROR "src/${folder} is no layer of cmake/Layers.cmake")
  endif()
  mptool_check_layer_links(mp_${name} "${reach}" ${ARG_DEPS} ${ARG_PRIVATE_DEPS})
  mptool_public_headers(mp_${name} ${CMAKE_CURRENT_SOURCE_DIR} ${folder})
  target_link_libraries(mp_${name}
    PUBLIC ${ARG_DEPS} ${ARG_PUBLIC_LIBS} Threads::Threads
    PRIVATE ${ARG_PRIVATE_DEPS} ${ARG_LIBS} mp_warnings)
endfunction()

# One test program per test folder, every TEST registered with CTest. DEPS names what the
# tests use of the project (the layers of the folder's reach), LIBS outside libraries.
function(mptool_test name)
  cmake_parse_arguments(ARG "" "" "DEPS;LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  mptool_test_reach(${folder} reach)
  mptool_check_layer_links(test_${name} "${reach}" ${ARG_DEPS})
  add_executable(test_${name} ${srcs})
  target_link_libraries(test_${name} PRIVATE ${ARG_DEPS} ${ARG_LIBS} mp_testsupport mp_warnings
                        GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(test_${name} PRIVATE
    MPTOOL_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
    MPTOOL_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
