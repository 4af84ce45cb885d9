# Install layout and packages: the Debian packages `orlim` (the field tool, on
# every machine) and `orlim-decode` (the key holder's decoder), and an RPM of
# `orlim` built from the fully static binary for RHEL-family machines.
#
#   cpack --config BUILD/CPackConfig.cmake           the .debs
#   cpack --config BUILD/CPackConfig.cmake -G RPM    the RPM
include(GNUInstallDirs)

# Dates in the packages and the manual pages come from SOURCE_DATE_EPOCH, so
# that two builds of one commit are byte-identical; without it, from the date
# of the checked-out commit.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ORLIM_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE ORLIM_SOURCE_DATE_EPOCH
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT ORLIM_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    string(TIMESTAMP ORLIM_SOURCE_DATE_EPOCH "%s" UTC)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${ORLIM_SOURCE_DATE_EPOCH})
endif()
# ISO 8601, which man and mandoc both read as a date.
string(TIMESTAMP ORLIM_MAN_DATE "%Y-%m-%d" UTC)
set(ORLIM_VERSION ${PROJECT_VERSION})

# The changelog's newest entry is the version being packaged.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^orlim \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with '${changelog_top}', "
                      "not an entry for version ${PROJECT_VERSION}")
endif()

# gzip -9n: no name or time stamp in the header, as Debian wants.
function(orlim_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9n -c ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${output}")
endfunction()

set(ORLIM_PACKAGE_FILES)

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
  set(page ${PROJECT_BINARY_DIR}/man/${target}.${section})
  configure_file(${PROJECT_SOURCE_DIR}/man/${target}.${section} ${page} @ONLY)
  orlim_gzip(${page} ${page}.gz)
  set(ORLIM_PACKAGE_FILES ${ORLIM_PACKAGE_FILES} ${page}.gz PARENT_SCOPE)
  install(TARGETS ${target} RUNTIME DESTINATION ${dir} COMPONENT ${component})
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
          COMPONENT ${component})
  if(ARG_RPM_BINARY AND TARGET ${ARG_RPM_BINARY})
    install(PROGRAMS $<TARGET_FILE:${ARG_RPM_BINARY}> DESTINATION ${dir} RENAME ${target}
            COMPONENT rpm EXCLUDE_FROM_ALL)
    # install(PROGRAMS) is not stripped with the targets (CPACK_STRIP_FILES).
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\"
                        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dir}/${target}\"
                        COMMAND_ERROR_IS_FATAL ANY)
      endif()" COMPONENT rpm EXCLUDE_FROM_ALL)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
            COMPONENT rpm EXCLUDE_FROM_ALL)
  endif()
endfunction()

# One line per tool: a further root-only tool in the orlim package is a line
# like the first (TARGET 8 orlim), with man/TARGET.8 beside the others.
orlim_install_tool(orlim 8 orlim RPM_BINARY orlim-static)
orlim_install_tool(orlim-inspect 8 orlim RPM_BINARY orlim-inspect-static)
orlim_install_tool(orlim-decode 1 decode)
orlim_install_tool(orlim-fleet 1 decode)

# Each Debian package's copyright and changelog, in its own doc folder.
orlim_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
list(APPEND ORLIM_PACKAGE_FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
foreach(package IN ITEMS orlim orlim-decode)
  if(package STREQUAL "orlim")
    set(component orlim)
  else()
    set(component decode)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
                ${PROJECT_BINARY_DIR}/packaging/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/licenses/orlim
        COMPONENT rpm EXCLUDE_FROM_ALL)
add_custom_target(orlim_package_files ALL DEPENDS ${ORLIM_PACKAGE_FILES})

# The target's architecture in each packaging system's words, so that a
# cross build is labelled for the machine it runs on, not the build host.
set(ORLIM_ARCH_MAP
  "x86_64:amd64:x86_64" "AMD64:amd64:x86_64" "amd64:amd64:x86_64"
  "aarch64:arm64:aarch64" "arm64:arm64:aarch64"
  "i686:i386:i686" "i386:i386:i686"
  "armv7l:armhf:armv7hl" "riscv64:riscv64:riscv64" "ppc64le:ppc64el:ppc64le"
  "s390x:s390x:s390x")
foreach(entry IN LISTS ORLIM_ARCH_MAP)
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 processor)
  if(processor STREQUAL CMAKE_SYSTEM_PROCESSOR)
    list(GET entry 1 CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    list(GET entry 2 CPACK_RPM_PACKAGE_ARCHITECTURE)
  endif()
endforeach()
if(NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  message(WARNING "No package architecture known for ${CMAKE_SYSTEM_PROCESSOR}; "
                  "cpack will label the packages for the build host")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orlim)
set(CPACK_PACKAGE_VENDOR "The orlim authors")
set(CPACK_PACKAGE_CONTACT "orlim maintainers <maintainers@orlim.dev>")
set(CPACK_PACKAGE_HOMEPAGE_URL ${PROJECT_HOMEPAGE_URL})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Per-generator choices (which components, time stamps) are made when cpack
# runs, in this file.
configure_file(${PROJECT_SOURCE_DIR}/cmake/CPackProjectConfig.cmake.in
               ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)

# Debian: one package per component.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL orlim decode)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The target's architecture: CPack would ask the host's dpkg.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ORLIM_DEBIAN_ARCH})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
# Dependencies computed from the binaries by dpkg-shlibdeps (dpkg-dev): the
# static libstdc++ brings in glibc symbols no hand-written version covers.
# (For a cross build, dpkg-shlibdeps needs the target's libc6 known to dpkg,
# e.g. libc6:arm64 installed through dpkg's multi-arch support.)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CMAKE_CROSSCOMPILING)
  # dpkg-shlibdeps needs the target's libc6 known to the host's dpkg: a
  # cross build computes the one dependency itself when cpack runs
  # (CPackProjectConfig.cmake).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
endif()
# The tools run the same whatever the calling package's architecture. CPack
# has no variable for this field, so it rides after the section's value.
set(orlim_multiarch "\nMulti-Arch: foreign")
set(CPACK_DEBIAN_ORLIM_PACKAGE_NAME orlim)
set(CPACK_DEBIAN_ORLIM_PACKAGE_SECTION "admin${orlim_multiarch}")
set(CPACK_COMPONENT_ORLIM_DESCRIPTION [[machine-identity token tool
orlim prints one line of hexadecimal digits, the system-ID token, that
identifies the machine it runs on: the SMBIOS system UUID, the time of the
run and characters derived from the identifying network card, encrypted
with the token key.

Install it on every machine of a fleet; administrators run it as root and
pass the line on to the key holder, who reads it with orlim-decode. The
token identifies a machine but proves nothing: it is not signed.

orlim-inspect shows where the identity comes from: the firmware table that
gave the UUID, the network card chosen and why, and the fields a token
made now would carry.]])
set(CPACK_DEBIAN_DECODE_PACKAGE_NAME orlim-decode)
set(CPACK_DEBIAN_DECODE_PACKAGE_SECTION "utils${orlim_multiarch}")
set(CPACK_COMPONENT_DECODE_DESCRIPTION [[decoder for orlim machine-identity tokens
orlim-decode turns tokens printed by orlim back into the time of the run,
the system UUID and the characters derived from the network card, as text
or as JSON lines for scripts. orlim-fleet compares two collections of
those JSON lines: which machines are new, gone, the same or changed, and
which share an identity.

orlim-decode carries the token key and is meant for the key holder only; the
machines that print tokens need just the orlim package.]])

# RPM: the field tool alone, from the static binary, which runs on any
# distribution's kernel without a matching C library.
set(CPACK_RPM_COMPONENT_INSTALL ON)
set(CPACK_RPM_RPM_PACKAGE_NAME orlim)
set(CPACK_RPM_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_SUMMARY "Machine-identity token tool")
set(CPACK_RPM_PACKAGE_LICENSE "MIT")
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_PACKAGE_URL ${PROJECT_HOMEPAGE_URL})
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_AUTOREQ OFF)
set(CPACK_RPM_PACKAGE_RELOCATABLE OFF)
# The system's own folders belong to the filesystem package.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/sbin /usr/share/man /usr/share/man/man1 /usr/share/man/man8 /usr/share/licenses)
# No /usr/lib/.build-id links: one binary, nothing to debug-link.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define _build_id_links none")
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
