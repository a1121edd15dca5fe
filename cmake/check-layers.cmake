# cmake -DSOURCE=<root> -P check-layers.cmake: the layers point one way, in
# the plug-in and in the map server. Each folder below may include only
# itself and the layers under it, and no two layers may include each other.

# The plug-in, from the bottom: platform/ (the system's calls, the HTTP seam
# among them, in standard types only), then base/, then net/ and image/,
# then plugin/.
set(allowed_platform "platform/")
set(allowed_base "base/|platform/")
set(allowed_net "base/|net/|platform/")
set(allowed_image "base/|image/|platform/")
set(allowed_plugin "base/|image/|net/|platform/|plugin/")

# The map server, row by row from the bottom (drawn in the README):
#   geo.h, markup.h
#   protocol/, files/, names/
#   database/, gazetteer/, render/, front/
#   streets/, page/, blocks/
#   http/, options/, stand_in/
#   main.cpp
set(low "server/geo\\.h|server/markup\\.h")
set(under "${low}|server/protocol/|server/files/|server/names/")
set(allowed_server/low "${low}")
set(allowed_server/protocol "${low}|server/protocol/")
set(allowed_server/files "${low}|server/files/")
set(allowed_server/names "${low}|server/names/")
set(allowed_server/database "${under}|server/database/")
set(allowed_server/gazetteer "${under}|server/gazetteer/")
set(allowed_server/render "${under}|server/render/")
set(allowed_server/front "${under}|server/front/")
set(allowed_server/page "${under}|server/(gazetteer|page)/")
set(allowed_server/streets "${under}|server/(database|gazetteer|render|streets)/")
set(allowed_server/blocks "${under}|server/(render|blocks)/")
set(allowed_server/http "${under}|server/(database|gazetteer|render|front|page|streets|blocks|http)/")
set(allowed_server/options "${under}|server/(front|options)/")
set(allowed_server/stand_in "${under}|server/(front|stand_in)/")
set(allowed_server/main "${under}|server/(database|gazetteer|render|front|page|streets|blocks|http|options)/")

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

set(layers platform base net image plugin server/protocol server/files server/names server/database server/gazetteer
    server/render server/front server/page server/streets server/blocks server/http server/options server/stand_in)
foreach(layer IN LISTS layers)
  file(GLOB_RECURSE files "${SOURCE}/${layer}/*.h" "${SOURCE}/${layer}/*.cpp")
  check(${layer} ${files})
endforeach()
# The lowest files include nothing of the server.
check(server/low "${SOURCE}/server/geo.h" "${SOURCE}/server/markup.h")
check(server/main "${SOURCE}/server/main.cpp")

# The rules themselves: a layer that may include another must not be one
# the other may include, or a cycle could grow unnoticed.
set(probe_server/low "server/geo.h")
set(probe_server/main "server/main.cpp")
foreach(layer IN LISTS layers)
  set(probe_${layer} "${layer}/x.h")
endforeach()
list(APPEND layers server/low server/main)
foreach(a IN LISTS layers)
  foreach(b IN LISTS layers)
    if(a STRLESS b AND "${probe_${b}}" MATCHES "^(${allowed_${a}})" AND "${probe_${a}}" MATCHES "^(${allowed_${b}})")
      string(APPEND faults "  ${a} and ${b} may include each other\n")
    endif()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "A lower layer includes a higher one:\n${faults}")
endif()
