# Install layout, and the RPM.
#
# The Debian packages come from debian/ (dpkg-buildpackage), which installs
# with `cmake --install` and sorts the files into the packages `orlim` (the
# field tool, on every machine), `orlim-decode` (the key holder's decoder)
# and `orlim-collect` (the fleet collection tool). The same three as RPMs for
# RHEL-family machines come from CPack, `orlim` from the fully static
# binaries:
#
#   cpack --config BUILD/CPackConfig.cmake
#
# Each RPM is a component of its own, apart from the Debian packaging's
# (which installs everything but these): rpm, rpm_decode, rpm_collect.
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

# orlim_install_page(NAME SECTION COMPONENT [RPM RPM_COMPONENT])
# Installs man/NAME.SECTION with the version and date filled in, as it is
# (the Debian packaging compresses pages itself); RPM adds it, compressed,
# to that RPM's component.
function(orlim_install_page name section component)
  cmake_parse_arguments(ARG "" "RPM" "" ${ARGN})
  set(page ${PROJECT_BINARY_DIR}/man/${name}.${section})
  configure_file(${PROJECT_SOURCE_DIR}/man/${name}.${section} ${page} @ONLY)
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
          COMPONENT ${component})
  if(ARG_RPM)
    orlim_gzip(${page} ${page}.gz)
    set(ORLIM_PACKAGE_FILES ${ORLIM_PACKAGE_FILES} ${page}.gz PARENT_SCOPE)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
            COMPONENT ${ARG_RPM} EXCLUDE_FROM_ALL)
  endif()
endfunction()

# orlim_install_tool(TARGET SECTION COMPONENT [RPM RPM_COMPONENT]
#                    [RPM_BINARY TARGET])
# Installs one executable with its manual page man/TARGET.SECTION: section-8
# tools (root only) into sbin, the others into bin. RPM names the RPM's
# component that carries it too; RPM_BINARY the build that goes there under
# the same name (the static one), where it is not TARGET itself.
function(orlim_install_tool target section component)
  cmake_parse_arguments(ARG "" "RPM;RPM_BINARY" "" ${ARGN})
  if(section STREQUAL "8")
    set(dir ${CMAKE_INSTALL_SBINDIR})
  else()
    set(dir ${CMAKE_INSTALL_BINDIR})
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${dir} COMPONENT ${component})
  if(NOT ARG_RPM_BINARY)
    set(ARG_RPM_BINARY ${target})
  endif()
  if(ARG_RPM AND TARGET ${ARG_RPM_BINARY})
    orlim_install_page(${target} ${section} ${component} RPM ${ARG_RPM})
    install(PROGRAMS $<TARGET_FILE:${ARG_RPM_BINARY}> DESTINATION ${dir} RENAME ${target}
            COMPONENT ${ARG_RPM} EXCLUDE_FROM_ALL)
    # install(PROGRAMS) is not stripped with the targets (CPACK_STRIP_FILES).
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\"
                        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dir}/${target}\"
                        COMMAND_ERROR_IS_FATAL ANY)
      endif()" COMPONENT ${ARG_RPM} EXCLUDE_FROM_ALL)
  else()
    orlim_install_page(${target} ${section} ${component})
  endif()
  set(ORLIM_PACKAGE_FILES ${ORLIM_PACKAGE_FILES} PARENT_SCOPE)
endfunction()

# One line per tool: a further root-only tool in the orlim package is a line
# like the first (TARGET 8 orlim), with man/TARGET.8 beside the others.
orlim_install_tool(orlim 8 orlim RPM rpm RPM_BINARY orlim-static)
orlim_install_tool(orlim-inspect 8 orlim RPM rpm RPM_BINARY orlim-inspect-static)
orlim_install_tool(orlim-decode 1 decode RPM rpm_decode)
orlim_install_tool(orlim-fleet 1 decode RPM rpm_decode)

# The RPMs, each a component: the field tool, the key holder's decoder, the
# collection tool (contrib/ adds its own files to rpm_collect).
set(ORLIM_RPM_PACKAGES orlim orlim-decode orlim-collect)
set(ORLIM_RPM_COMPONENTS rpm rpm_decode rpm_collect)
foreach(package component IN ZIP_LISTS ORLIM_RPM_PACKAGES ORLIM_RPM_COMPONENTS)
  # The licence where RPM-based systems look for it, marked as one.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/licenses/${package}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
  string(TOUPPER ${component} var)
  set(CPACK_RPM_${var}_PACKAGE_NAME ${package})
  set(CPACK_RPM_${var}_FILE_NAME RPM-DEFAULT)
  set(CPACK_RPM_${var}_USER_FILELIST
      "%license /usr/${CMAKE_INSTALL_DATAROOTDIR}/licenses/${package}/LICENSE")
endforeach()
# Everything the RPMs take from the build (contrib/ adds its page), so that
# building this one target readies them.
add_custom_target(orlim_package_files ALL DEPENDS ${ORLIM_PACKAGE_FILES})
add_dependencies(orlim_package_files orlim-decode orlim-fleet)

# Every file of the RPMs dated SOURCE_DATE_EPOCH: rpmbuild only clamps later
# times, and a file built before the commit (then kept, being up to date)
# would otherwise carry its own. Deferred to the end of the project, so that
# it runs after every file of each component is installed, contrib's too.
function(orlim_rpm_dates)
  foreach(component IN LISTS ORLIM_RPM_COMPONENTS)
    install(CODE [[
      execute_process(COMMAND find "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}" -exec
                              touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
                      COMMAND_ERROR_IS_FATAL ANY)]] COMPONENT ${component} EXCLUDE_FROM_ALL)
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL orlim_rpm_dates)

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

set(CPACK_COMPONENTS_ALL ${ORLIM_RPM_COMPONENTS})
set(CPACK_RPM_COMPONENT_INSTALL ON)
# The target's architecture, so that a cross build is labelled for the
# machine it runs on, not the build host.
set(CPACK_RPM_PACKAGE_ARCHITECTURE ${ORLIM_RPM_ARCH})
set(CPACK_RPM_PACKAGE_SUMMARY "Machine-identity token tool")
set(CPACK_RPM_PACKAGE_LICENSE "MIT")
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_PACKAGE_URL ${PROJECT_HOMEPAGE_URL})
set(CPACK_RPM_PACKAGE_RELEASE 1)
# The static tools need nothing; the others say what they need below.
set(CPACK_RPM_PACKAGE_AUTOREQ OFF)
set(CPACK_RPM_PACKAGE_AUTOPROV OFF)
set(CPACK_RPM_CHANGELOG_FILE ${PROJECT_BINARY_DIR}/packaging/rpm-changelog)
# The system's own folders belong to the filesystem package.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/bin /usr/sbin /usr/share/man /usr/share/man/man1 /usr/share/man/man8 /usr/share/licenses)
# No /usr/lib/.build-id links: no debug packages to link to.
# Reproducible: the build time is SOURCE_DATE_EPOCH, file times are clamped
# to it, and the build host is a fixed name instead of this machine's.
set(CPACK_RPM_SPEC_MORE_DEFINE [[%define _build_id_links none
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _buildhost reproducible]])
# orlim: the field tool alone, from the static binary, which runs on any
# distribution's kernel without a matching C library.
set(CPACK_RPM_RPM_PACKAGE_SUMMARY "Machine-identity token tool")
set(CPACK_RPM_RPM_PACKAGE_DESCRIPTION [[orlim prints one line of hexadecimal digits, the system-ID token, that
identifies the machine it runs on: the SMBIOS system UUID, the time of the
run and characters derived from the identifying network card, encrypted
with the token key. Administrators run it as root and pass the line on to
the key holder, who reads it with orlim-decode. orlim-inspect shows where
the identity comes from.

This build is fully static and needs no library at run time.]])
# orlim-decode: the libraries it links, as rpmbuild finds them in the
# binaries.
set(CPACK_RPM_RPM_DECODE_PACKAGE_SUMMARY "Decoder for orlim machine-identity tokens")
set(CPACK_RPM_RPM_DECODE_PACKAGE_AUTOREQ ON)
set(CPACK_RPM_RPM_DECODE_PACKAGE_DESCRIPTION [[orlim-decode turns tokens printed by orlim back into the time of the run,
the system UUID and the characters derived from the network card, as text
or as JSON lines for scripts. orlim-fleet compares the decoded records of
two collections: new, gone and changed machines, clones and shared UUIDs.

It carries the token key and is meant for the key holder only; the
machines that print tokens need just the orlim package.]])
# orlim-collect: a script and a playbook, the same on every architecture;
# what it runs, named (rpmbuild would take the playbook's filters for a
# Python module of their own).
set(CPACK_RPM_RPM_COLLECT_PACKAGE_SUMMARY "Collect orlim machine-identity tokens from a fleet")
set(CPACK_RPM_RPM_COLLECT_PACKAGE_ARCHITECTURE noarch)
set(CPACK_RPM_RPM_COLLECT_PACKAGE_REQUIRES "bash, coreutils, gawk, util-linux, openssh-clients")
set(CPACK_RPM_RPM_COLLECT_PACKAGE_SUGGESTS "ansible-core")
set(CPACK_RPM_RPM_COLLECT_PACKAGE_DESCRIPTION [[orlim-collect runs orlim on many machines over ssh, or through Ansible,
and writes one 'HOST TOKEN' line per machine for the key holder's
orlim-decode; every machine that gave no token has a line that says why.

It carries no token key: install it where the collection is run. The
machines themselves need the orlim package.]])
include(CPack)
