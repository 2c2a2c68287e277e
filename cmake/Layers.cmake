# The layers of src/, lowest first, and the layers each one uses directly. A file may include
# headers of its own folder and of every layer its layer reaches through these uses, nothing
# else: so a layer never sees one above it, siblings (run and pd, the two platform
# implementations) never see each other, and only the top picks a platform implementation.
# The build checks each library's links against this table, the layers test every include.
macro(mptool_layer folder)
  list(APPEND MPTOOL_LAYERS ${folder})
  string(MAKE_C_IDENTIFIER "${folder}" _mptool_id)
  set(MPTOOL_LAYER_USES_${_mptool_id} ${ARGN})
endmacro()

# Folders outside src/ whose files belong to a layer's tests (tests/<layer> needs no entry).
macro(mptool_test_folder folder layer)
  string(MAKE_C_IDENTIFIER "${folder}" _mptool_id)
  set(MPTOOL_TEST_FOLDER_${_mptool_id} ${layer})
endmacro()

set(MPTOOL_LAYERS)
mptool_layer(log)
mptool_layer(platform log)
mptool_layer(platform/linux platform)
mptool_layer(platform/sim platform)
mptool_layer(host platform)
mptool_layer(settings host)
mptool_layer(images settings)
mptool_layer(device images)
mptool_layer(run device)
mptool_layer(pd device)
mptool_layer(line run)
mptool_layer(ui run pd)
mptool_layer(ui/qt ui)
mptool_layer(app ui/qt line platform/linux platform/sim)
mptool_layer(util app)
mptool_layer(shim)

mptool_test_folder(tests/scsi device)
mptool_test_folder(tests/topology device)
mptool_test_folder(tests/fuzz images)
mptool_test_folder(tests/e2e app)
mptool_test_folder(tests/ui/qt app)  # the window's tests start it as MPTool does
mptool_test_folder(bench app)

# A test also picks the platform it runs on, as app does.
set(MPTOOL_TEST_PICKS platform/linux platform/sim)

# Headers the build generates (in the build tree); any file may include them.
set(MPTOOL_GENERATED_HEADERS mptool_version.h)

# mptool_layer_reach(<folder> <out>): the layers a file of <folder> may include, itself first;
# empty when <folder> is no layer.
function(mptool_layer_reach folder out)
  if(NOT folder IN_LIST MPTOOL_LAYERS)
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  set(reach ${folder})
  set(todo ${folder})
  while(todo)
    list(POP_FRONT todo layer)
    string(MAKE_C_IDENTIFIER "${layer}" id)
    foreach(used ${MPTOOL_LAYER_USES_${id}})
      if(NOT used IN_LIST reach)
        list(APPEND reach ${used})
        list(APPEND todo ${used})
      endif()
    endforeach()
  endwhile()
  set(${out} ${reach} PARENT_SCOPE)
endfunction()

# mptool_test_reach(<folder> <out>): the layers a test file under <folder> (tests/x, bench)
# may include: those of the layer it tests, with the platform implementations when that
# layer reaches the platform. Empty when the folder tests no layer.
function(mptool_test_reach folder out)
  string(MAKE_C_IDENTIFIER "${folder}" id)
  set(layer ${MPTOOL_TEST_FOLDER_${id}})
  if(NOT layer AND folder MATCHES "^tests/(.+)$")
    set(layer ${CMAKE_MATCH_1})
  endif()
  mptool_layer_reach("${layer}" reach)
  if("platform" IN_LIST reach)
    foreach(pick ${MPTOOL_TEST_PICKS})
      if(NOT pick IN_LIST reach)
        list(APPEND reach ${pick})
      endif()
    endforeach()
  endif()
  set(${out} ${reach} PARENT_SCOPE)
endfunction()
