# What `cmake --install` puts where, and how other projects find it: an
# exported CMake package (KvHtmlDbTools::com, ::win32, ::kvdbal, ::host), a
# pkg-config file and the shared data (demo site, page examples, consumer
# example). Nothing installed names the build or source folder: programs and
# libraries find each other through $ORIGIN, the package files find the
# prefix relative to themselves.
include(CMakePackageConfigHelpers)

set(KV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KvHtmlDbTools)
set(KV_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/kvhtmldbtools)
set(KV_PUBLIC_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/kvhtmldbtools)

install(TARGETS kvcom kvwin32 kvdbal kvhostobjects EXPORT KvHtmlDbToolsTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET kvhtmldbtools)
  install(TARGETS kvhtmldbtools LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
foreach(tool kvhost kvregsvr)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The public headers: the COM subset, the two interfaces with their ids, and
# the host session a program hands to Init.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/kvhtmldbtools/ DESTINATION ${KV_PUBLIC_INCLUDE_DIR}
        FILES_MATCHING PATTERN "*.h")
install(FILES ${PROJECT_SOURCE_DIR}/platform/host/HostSession.h ${PROJECT_SOURCE_DIR}/platform/host/HostInterfaces.h
        DESTINATION ${KV_PUBLIC_INCLUDE_DIR}/host)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/site ${PROJECT_SOURCE_DIR}/examples/pages
                  ${PROJECT_SOURCE_DIR}/examples/consumer
        DESTINATION ${KV_SHARE_DIR}/examples)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kvhtmldbtools
        FILES_MATCHING PATTERN "*.md")

# ---- CMake package ----
install(EXPORT KvHtmlDbToolsTargets NAMESPACE KvHtmlDbTools:: DESTINATION ${KV_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KvHtmlDbToolsConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/KvHtmlDbToolsConfig.cmake
                              INSTALL_DESTINATION ${KV_CMAKE_DIR}
                              PATH_VARS CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_BINDIR KV_SHARE_DIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KvHtmlDbToolsConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KvHtmlDbToolsConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/KvHtmlDbToolsConfigVersion.cmake
        DESTINATION ${KV_CMAKE_DIR})

# ---- pkg-config ----
# The prefix is found from the .pc file's own place, so `--install --prefix`
# and a DESTDIR staging both give a working file.
file(RELATIVE_PATH KV_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" KV_PC_TO_PREFIX "${KV_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/kvhtmldbtools.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kvhtmldbtools.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kvhtmldbtools.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# ---- system registry ----
# The installation registers its own module in its system registry
# (<libdir>/kvcom/registry), with the module path relative to the registry,
# so the installed tree (or the unpacked package) works wherever it lies and
# no user registration is needed. The per-user registry and KVCOM_REGISTRY
# are still asked first.
if(TARGET kvhtmldbtools AND TARGET kvregsvr)
  install(CODE "
    set(kv_root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    execute_process(COMMAND \"\${kv_root}/${CMAKE_INSTALL_BINDIR}/kvregsvr\" --system
                            \"\${kv_root}/${CMAKE_INSTALL_LIBDIR}/libkvhtmldbtools10.so\"
                    RESULT_VARIABLE kv_status OUTPUT_VARIABLE kv_out ERROR_VARIABLE kv_out)
    if(NOT kv_status EQUAL 0)
      message(FATAL_ERROR \"registering the module in the system registry failed: \${kv_out}\")
    endif()
    file(REMOVE \"\${kv_root}/${CMAKE_INSTALL_LIBDIR}/kvcom/registry.lock\")
    message(STATUS \"Registered: \${kv_root}/${CMAKE_INSTALL_LIBDIR}/kvcom/registry\")
  ")
endif()

# ---- Debian package (cpack -G DEB) ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvhtmldbtools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}.0)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Data-access component server for server-side web pages")
set(CPACK_PACKAGE_CONTACT "KvHtmlDbTools developers <kvhtmldbtools@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# The package's own libraries come with it; what it needs from the system
# is found by dpkg-shlibdeps when it is there.
find_program(KV_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KV_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsqlite3-0, libpq5, libstdc++6")
endif()
include(CPack)
