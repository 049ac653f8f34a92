# Installing the vendor tools and packing them for Debian.
#
# "cmake --install" puts installer into sbin (it is run as root on router root
# images), pkgtool into bin, their manual pages and pkgtool's bash completion into
# share. "cpack -G DEB" in a build directory makes halvane-tools_VERSION_ARCH.deb of
# the same files; scripts/package.sh builds, packs and tries it out.
#
# Nothing of keys/ is installed: those are development keys, and a vendor signs
# with keys it keeps elsewhere (README, "Development keys").

include(GNUInstallDirs)

install(TARGETS installer RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS pkgtool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages go in compressed, as Debian keeps them; gzip -n keeps the bytes the
# same from build to build.
set(HALVANE_MAN_PAGES installer.8 pkgtool.1)
set(compressed_pages "")
foreach(page IN LISTS HALVANE_MAN_PAGES)
  set(source "${CMAKE_SOURCE_DIR}/man/${page}")
  set(output "${CMAKE_BINARY_DIR}/man/${page}.gz")
  add_custom_command(OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/man"
    COMMAND gzip -9nc "${source}" > "${output}"
    DEPENDS "${source}" VERBATIM)
  string(REGEX MATCH "[0-9]$" section "${page}")
  install(FILES "${output}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man${section}")
  list(APPEND compressed_pages "${output}")
endforeach()
add_custom_target(man_pages ALL DEPENDS ${compressed_pages})

install(FILES "${CMAKE_SOURCE_DIR}/completions/pkgtool"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions")

# The Debian package. Its version is ours to set; the architecture and the shared
# libraries it needs come from dpkg. An installer that knows the development keys
# accepts packages anyone can sign: the version says so.
set(HALVANE_TOOLS_VERSION "0.1.0" CACHE STRING "Version of the halvane-tools package")
set(package_version "${HALVANE_TOOLS_VERSION}")
set(key_note
    "The installer checks signatures against the vendor's public keys it was built with.")
if(LEGACY_PUBLIC_KEY_FILE STREQUAL "${CMAKE_SOURCE_DIR}/keys/legacy.public" OR
   EDDSA_PUBLIC_KEY_FILE STREQUAL "${CMAKE_SOURCE_DIR}/keys/eddsa.public")
  string(APPEND package_version "+devkeys")
  set(key_note "This build's installer knows only the development keys, whose secrets are
published: it accepts packages that anyone can sign. Not for shipping.")
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halvane-tools)
set(CPACK_PACKAGE_VERSION "${package_version}")
set(CPACK_PACKAGE_CONTACT "Halvane developers <halvane-dev@halvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Halvane package tool and package manager for router root images")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"pkgtool builds, signs, bundles, verifies and inspects Halvane package files
in exactly the format the router's package manager reads, and shows the
installed set of a router root image. installer is that package manager,
for use on router root images with -r ROOT.

No signing keys are included: generate a pair with pkgtool keygen.
${key_note}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion, graphviz")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)

# Tests of the manual pages, the completion and the package; once, in the build
# without sanitizers.
if(INSTALLER_TESTS AND NOT INSTALLER_SANITIZE)
  add_test(NAME packaging.man_pages
    COMMAND sh "${CMAKE_SOURCE_DIR}/tests/packaging/man_pages_test.sh"
            "${CMAKE_SOURCE_DIR}/man" $<TARGET_FILE:pkgtool>)
  add_test(NAME packaging.completion
    COMMAND bash "${CMAKE_SOURCE_DIR}/tests/packaging/completion_test.sh"
            "${CMAKE_SOURCE_DIR}/completions/pkgtool" $<TARGET_FILE:pkgtool>)
  set_tests_properties(packaging.man_pages packaging.completion PROPERTIES
    SKIP_RETURN_CODE 77)
endif()
