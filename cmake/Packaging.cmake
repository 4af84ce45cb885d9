# Install layout, and the RPM.
#
# The Debian packages come from debian/ (dpkg-buildpackage), which installs
# with `cmake --install` and sorts the files into the packages `orlim` (the
# field tool, on every machine), `orlim-decode` (the key holder's decoder)
# and `orlim-collect` (the fleet collection tool). The RPM of `orlim`, built
# from the fully static binaries for RHEL-family machines, comes from CPack:
#
#   cpack --config BUILD/CPackConfig.cmake
include(GNUInstallDirs)

set(ORLIM_VERSION ${PROJECT_VERSION})

# debian/changelog is the one history of releases: its newest entry is the
# version being built, and the RPM's %changelog is made from it.
include(${CMAKE_CURRENT_LIST_DIR}/RpmChangelog.cmake)
orlim_rpm_changelog(${PROJECT_SOURCE_DIR}/debian/changelog
                    ${PROJECT_BINARY_DIR}/packaging/rpm-changelog 1 newest_version)
if(NOT newest_version STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "debian/changelog's newest entry is version '${newest_version}', "
                      "not ${PROJECT_VERSION}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/debian/changelog)

# gzip -9n: no name or time stamp in the header.
function(orlim_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9n -c ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${output}")
endfunction()

set(ORLIM_PACKAGE_FILES)

# orlim_install_page(NAME SECTION COMPONENT [RPM])
# Installs man/NAME.SECTION with the version and date filled in, as it is
# (the Debian packaging compresses pages itself); RPM adds it, compressed,
# to the RPM.
function(orlim_install_page name section component)
  cmake_parse_arguments(ARG "RPM" "" "" ${ARGN})
  set(page ${PROJECT_BINARY_DIR}/man/${name}.${section})
  configure_file(${PROJECT_SOURCE_DIR}/man/${name}.${section} ${page} @ONLY)
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
          COMPONENT ${component})
  if(ARG_RPM)
    orlim_gzip(${page} ${page}.gz)
    set(ORLIM_PACKAGE_FILES ${ORLIM_PACKAGE_FILES} ${page}.gz PARENT_SCOPE)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
            COMPONENT rpm EXCLUDE_FROM_ALL)
  endif()
endfunction()

# orlim_install_tool(TARGET SECTION COMPONENT [RPM_BINARY TARGET])
# Installs one executable with its manual page man/TARGET.SECTION: section-8
# tools (root only) into sbin, the others into bin. RPM_BINARY names the
# static build that goes into the RPM under the same name.
function(orlim_install_tool target section component)
  cmake_parse_arguments(ARG "" "RPM_BINARY" "" ${ARGN})
  if(section STREQUAL "8")
    set(dir ${CMAKE_INSTALL_SBINDIR})
  else()
    set(dir ${CMAKE_INSTALL_BINDIR})
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${dir} COMPONENT ${component})
  if(ARG_RPM_BINARY AND TARGET ${ARG_RPM_BINARY})
    orlim_install_page(${target} ${section} ${component} RPM)
    install(PROGRAMS $<TARGET_FILE:${ARG_RPM_BINARY}> DESTINATION ${dir} RENAME ${target}
            COMPONENT rpm EXCLUDE_FROM_ALL)
    # install(PROGRAMS) is not stripped with the targets (CPACK_STRIP_FILES).
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\"
                        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dir}/${target}\"
                        COMMAND_ERROR_IS_FATAL ANY)
      endif()" COMPONENT rpm EXCLUDE_FROM_ALL)
  else()
    orlim_install_page(${target} ${section} ${component})
  endif()
  set(ORLIM_PACKAGE_FILES ${ORLIM_PACKAGE_FILES} PARENT_SCOPE)
endfunction()

# One line per tool: a further root-only tool in the orlim package is a line
# like the first (TARGET 8 orlim), with man/TARGET.8 beside the others.
orlim_install_tool(orlim 8 orlim RPM_BINARY orlim-static)
orlim_install_tool(orlim-inspect 8 orlim RPM_BINARY orlim-inspect-static)
orlim_install_tool(orlim-decode 1 decode)
orlim_install_tool(orlim-fleet 1 decode)

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/licenses/orlim
        COMPONENT rpm EXCLUDE_FROM_ALL)
add_custom_target(orlim_package_files ALL DEPENDS ${ORLIM_PACKAGE_FILES})
# Every file of the RPM dated SOURCE_DATE_EPOCH: rpmbuild only clamps later
# times, and a file built before the commit (then kept, being up to date)
# would otherwise carry its own.
install(CODE [[
  execute_process(COMMAND find "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}" -exec
                          touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
                  COMMAND_ERROR_IS_FATAL ANY)]] COMPONENT rpm EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR RPM)
set(CPACK_PACKAGE_NAME orlim)
set(CPACK_PACKAGE_VENDOR "The orlim authors")
set(CPACK_PACKAGE_CONTACT "orlim maintainers <maintainers@orlim.dev>")
set(CPACK_PACKAGE_HOMEPAGE_URL ${PROJECT_HOMEPAGE_URL})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The tools read fixed paths under /usr: a package that moves elsewhere
# would be broken. (CPack's RPM generator reads the general switch, which
# defaults to on, besides its own.)
set(CPACK_PACKAGE_RELOCATABLE OFF)
set(CPACK_RPM_PACKAGE_RELOCATABLE OFF)
# The time stamp is fixed when cpack runs, in this file.
configure_file(${PROJECT_SOURCE_DIR}/cmake/CPackProjectConfig.cmake.in
               ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)

# RPM: the field tool alone, from the static binary, which runs on any
# distribution's kernel without a matching C library.
set(CPACK_COMPONENTS_ALL rpm)
set(CPACK_RPM_COMPONENT_INSTALL ON)
set(CPACK_RPM_RPM_PACKAGE_NAME orlim)
set(CPACK_RPM_RPM_FILE_NAME RPM-DEFAULT)
# The target's architecture, so that a cross build is labelled for the
# machine it runs on, not the build host.
set(CPACK_RPM_PACKAGE_ARCHITECTURE ${ORLIM_RPM_ARCH})
set(CPACK_RPM_PACKAGE_SUMMARY "Machine-identity token tool")
set(CPACK_RPM_PACKAGE_LICENSE "MIT")
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_PACKAGE_URL ${PROJECT_HOMEPAGE_URL})
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_AUTOREQ OFF)
set(CPACK_RPM_CHANGELOG_FILE ${PROJECT_BINARY_DIR}/packaging/rpm-changelog)
# The system's own folders belong to the filesystem package.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/sbin /usr/share/man /usr/share/man/man1 /usr/share/man/man8 /usr/share/licenses)
# No /usr/lib/.build-id links: one binary, nothing to debug-link.
# Reproducible: the build time is SOURCE_DATE_EPOCH, file times are clamped
# to it, and the build host is a fixed name instead of this machine's.
set(CPACK_RPM_SPEC_MORE_DEFINE [[%define _build_id_links none
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _buildhost reproducible]])
set(CPACK_RPM_PACKAGE_DESCRIPTION [[orlim prints one line of hexadecimal digits, the system-ID token, that
identifies the machine it runs on: the SMBIOS system UUID, the time of the
run and characters derived from the identifying network card, encrypted
with the token key. Administrators run it as root and pass the line on to
the key holder, who reads it with orlim-decode. orlim-inspect shows where
the identity comes from.

This build is fully static and needs no library at run time.]])
set(CPACK_RPM_RPM_PACKAGE_SUMMARY "${CPACK_RPM_PACKAGE_SUMMARY}")
set(CPACK_RPM_RPM_PACKAGE_DESCRIPTION "${CPACK_RPM_PACKAGE_DESCRIPTION}")
include(CPack)
