# What a user installs, made by CPack from the build tree that builds it:
#   win32 tree:  plivors-<version>-win32.zip (plug-in, host, samples, readme, licences)
#   server tree: plivors-server_<version>_amd64.deb (server, style, data, systemd unit)
# Both carry the one project version. `make dist` runs them into dist/; the
# win32 tree's tests pack the zip into their own folder and test it.
set(PLIVORS_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(CPACK_PACKAGE_NAME plivors)
set(CPACK_PACKAGE_VENDOR "Plivors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Plivors developers <plivors@localhost>")
set(CPACK_STRIP_FILES ON)
# The Makefile builds what a package needs before packing it; packing must
# not build every test program of the tree first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The copyright texts Debian keeps for the packages whose code a product
# carries inside it (static runtimes), gathered into one folder under the
# names given: plivors_licence_texts(DIR NAME=FILE...).
function(plivors_licence_texts dir)
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir})
  foreach(pair IN LISTS ARGN)
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 name)
    list(GET pair 1 source)
    if(NOT EXISTS ${source})
      message(FATAL_ERROR "licence text ${source} is missing: its package is not installed")
    endif()
    configure_file(${source} ${dir}/${name} COPYONLY)
  endforeach()
endfunction()

if(PLIVORS_SERVER)
  # The server package. The server's own install() rules put bin/ and
  # share/plivors-server/; these add the service, its settings and the
  # copyright file Debian expects.
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_NAME plivors-server)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Plivors map server: maps, place names and descriptor downloads")
  set(CPACK_PACKAGE_DESCRIPTION "Draws the map pictures, answers the place names and offers the map \
descriptors that the Plivors raster-map plug-in asks for, all on one HTTP port. Runs as the systemd \
service plivors-server, configured in /etc/default/plivors-server.")
  # Libraries from the binary's own links (Mapnik and the rest), plus what
  # it opens at run time rather than links.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Street maps: the server reads PostGIS through Mapnik's postgis input
  # (in libmapnik, found from the links) and libpq; the database and the
  # importer may live on another machine, so they are only recommended.
  # The styles' labels draw with the Noto fonts' fontsets (a name in any
  # script), and Mapnik refuses a style whose fonts are missing: they are
  # needed, not recommended.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core, fonts-noto-core, fonts-noto-cjk, libjs-leaflet")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "postgresql-15-postgis-3, osm2pgsql")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PLIVORS_PACKAGING_DIR}/server/conffiles ${PLIVORS_PACKAGING_DIR}/server/postinst
    ${PLIVORS_PACKAGING_DIR}/server/prerm ${PLIVORS_PACKAGING_DIR}/server/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  install(FILES ${PLIVORS_PACKAGING_DIR}/server/plivors-server.service
    ${PLIVORS_PACKAGING_DIR}/server/plivors-server-update.service
    ${PLIVORS_PACKAGING_DIR}/server/plivors-server-update.timer DESTINATION lib/systemd/system)
  install(FILES ${PLIVORS_PACKAGING_DIR}/server/plivors-server.default DESTINATION /etc/default
    RENAME plivors-server)
  install(FILES ${PLIVORS_PACKAGING_DIR}/server/copyright DESTINATION share/doc/plivors-server)
elseif(WIN32)
  # The Windows zip: everything in one folder, the plug-in beside the host
  # so that `plivors-host check` finds it there.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME plivors-${PROJECT_VERSION}-win32)
  install(FILES $<TARGET_FILE:HalvoPlugIn_Plivors> $<TARGET_FILE:plivors-host> DESTINATION .)
  # The static runtimes bring their debugging sections; users need none.
  install(CODE "foreach(f HalvoPlugIn_Plivors.dll plivors-host.exe)
    execute_process(COMMAND \"${CMAKE_STRIP}\" \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${f}\"
      RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR \"cannot strip \${f}\")
    endif()
  endforeach()")
  file(GLOB sample_maps ${CMAKE_SOURCE_DIR}/maps/*.plvr)
  install(FILES ${sample_maps} DESTINATION maps)
  # Readmes with Windows line ends, for Notepad.
  foreach(readme README.txt LEEME.txt)
    configure_file(${PLIVORS_PACKAGING_DIR}/windows/${readme} ${CMAKE_BINARY_DIR}/package-doc/${readme}
      @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${CMAKE_BINARY_DIR}/package-doc/${readme} DESTINATION .)
  endforeach()
  # The DLL and the program carry GCC's C++ runtime and mingw-w64's C
  # runtime and threads, linked statically.
  set(licences ${CMAKE_BINARY_DIR}/package-doc/licences)
  plivors_licence_texts(${licences}
    "gcc-runtime.txt=/usr/share/doc/gcc-mingw-w64-base/copyright"
    "GPL-3.txt=/usr/share/common-licenses/GPL-3"
    "mingw-w64-runtime.txt=/usr/share/doc/mingw-w64-common/copyright"
    "plivors.txt=${CMAKE_SOURCE_DIR}/LICENSE")
  configure_file(${PLIVORS_PACKAGING_DIR}/windows/licences.txt ${licences}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(DIRECTORY ${licences}/ DESTINATION licences)
endif()

if(CPACK_GENERATOR)
  include(CPack)
endif()
