# cmake -DSOURCE=<root> -P check-layers.cmake: the layers point one way, in
# the plug-in and in the map server. Each folder below may include only
# itself and the layers under it.

# The plug-in: platform/ implements the HTTP seam that net/ declares.
set(allowed_base "base/|platform/")
set(allowed_net "base/|net/|platform/")
set(allowed_image "base/|image/|platform/")
set(allowed_platform "base/|platform/|net/seam_http\\.h")

# The map server, row by row from the bottom (drawn in the README):
#   geo.h, markup.h, protocol/, files/, names/
#   database/, gazetteer/, render/, front/
#   streets/, page/, blocks/
#   http/, options/, stand_in/
#   main.cpp
set(low "server/geo\\.h|server/markup\\.h|server/protocol/|server/files/|server/names/")
set(allowed_server/protocol "${low}")
set(allowed_server/files "${low}")
set(allowed_server/names "${low}")
set(allowed_server/database "${low}|server/database/")
set(allowed_server/gazetteer "${low}|server/gazetteer/")
set(allowed_server/render "${low}|server/render/")
set(allowed_server/front "${low}|server/front/")
set(allowed_server/page "${low}|server/(gazetteer|page)/")
set(allowed_server/streets "${low}|server/(database|gazetteer|render|streets)/")
set(allowed_server/blocks "${low}|server/(render|blocks)/")
set(allowed_server/http "${low}|server/(database|gazetteer|render|front|page|streets|blocks|http)/")
set(allowed_server/options "${low}|server/(front|options)/")
set(allowed_server/stand_in "${low}|server/(front|stand_in)/")
set(allowed_server/main "${low}|server/(database|gazetteer|render|front|page|streets|blocks|http|options)/")

set(faults "")
# Checks the files against the layer's allowed includes.
function(check layer)
  foreach(f IN LISTS ARGN)
    file(STRINGS "${f}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*" "\\1" target "${line}")
      if(NOT target MATCHES "^(${allowed_${layer}})")
        file(RELATIVE_PATH rel "${SOURCE}" "${f}")
        string(APPEND faults "  ${rel} includes ${target}\n")
      endif()
    endforeach()
  endforeach()
  set(faults "${faults}" PARENT_SCOPE)
endfunction()

foreach(layer base net image platform server/protocol server/files server/names server/database server/gazetteer server/render
        server/front server/page server/streets server/blocks server/http server/options server/stand_in)
  file(GLOB_RECURSE files "${SOURCE}/${layer}/*.h" "${SOURCE}/${layer}/*.cpp")
  check(${layer} ${files})
endforeach()
# The lowest files include nothing of the server.
set(allowed_server/low "server/(geo|markup)\\.h")
check(server/low "${SOURCE}/server/geo.h" "${SOURCE}/server/markup.h")
check(server/main "${SOURCE}/server/main.cpp")
if(faults)
  message(FATAL_ERROR "A lower layer includes a higher one:\n${faults}")
endif()
