# Install layout and the two Debian packages: `orlim` (the field tool and
# orlim-inspect) and `orlim-decode` (the key holder's decoder).
include(GNUInstallDirs)

# Each page with its section.
foreach(page orlim.1 orlim-decode.1 orlim-inspect.8)
  set(ORLIM_VERSION ${PROJECT_VERSION})
  configure_file(${PROJECT_SOURCE_DIR}/man/${page} ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
    COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/man/${page}
    DEPENDS ${PROJECT_BINARY_DIR}/man/${page}
    COMMENT "Compressing ${page}")
  list(APPEND ORLIM_MAN_PAGES ${PROJECT_BINARY_DIR}/man/${page}.gz)
endforeach()
add_custom_target(orlim_man ALL DEPENDS ${ORLIM_MAN_PAGES})

install(TARGETS orlim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT orlim)
install(FILES ${PROJECT_BINARY_DIR}/man/orlim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT orlim)
# The administrator's view of what orlim reads, in the same package.
install(TARGETS orlim-inspect RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT orlim)
install(FILES ${PROJECT_BINARY_DIR}/man/orlim-inspect.8.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT orlim)
install(TARGETS orlim-decode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT decode)
install(FILES ${PROJECT_BINARY_DIR}/man/orlim-decode.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT decode)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orlim)
set(CPACK_PACKAGE_VENDOR "orlim")
set(CPACK_PACKAGE_CONTACT "orlim developers <orlim-dev@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL orlim decode)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# libstdc++ and libgcc are linked in; only glibc is needed at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34)")
set(CPACK_DEBIAN_ORLIM_PACKAGE_NAME orlim)
set(CPACK_COMPONENT_ORLIM_DESCRIPTION
    "machine-identity token tool\norlim prints one encrypted line of hexadecimal that identifies the machine\nit runs on, for the holder of the token key to decode with orlim-decode.\norlim-inspect shows an administrator where that identity comes from.")
set(CPACK_DEBIAN_DECODE_PACKAGE_NAME orlim-decode)
set(CPACK_DEBIAN_DECODE_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_DECODE_DESCRIPTION
    "decoder for orlim machine-identity tokens\norlim-decode turns tokens printed by orlim back into the time, system UUID\nand network identifier they hold. It is meant for the token key holder.")
include(CPack)
