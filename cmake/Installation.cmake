# Installation: the programs (tidewrack and tidewrack-report), their manual pages and bash
# completions, the README and the sample traces, in the places GNUInstallDirs names under the
# install prefix; and an `uninstall` target that removes what the last `cmake --install` of this
# build tree into the same prefix (under the same $DESTDIR) wrote, as cmake/install-record keeps
# it.
include(GNUInstallDirs)

install(TARGETS tidewrack tidewrack-report RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual pages take the project version from here and are installed compressed, as
# packaged manual pages are.
find_program(TIDEWRACK_GZIP gzip REQUIRED)
foreach(program tidewrack tidewrack-report)
    set(manual ${PROJECT_BINARY_DIR}/docs/${program}.1)
    configure_file(${PROJECT_SOURCE_DIR}/docs/${program}.1 ${manual} @ONLY)
    add_custom_command(OUTPUT ${manual}.gz
        COMMAND ${TIDEWRACK_GZIP} -9 -n -k -f ${program}.1
        DEPENDS ${manual}
        WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/docs
        COMMENT "Compressing the manual page of ${program}" VERBATIM)
    add_custom_target(${program}_manual ALL DEPENDS ${manual}.gz)
    install(FILES ${manual}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

    install(FILES ${PROJECT_SOURCE_DIR}/completion/${program}.bash
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
            RENAME ${program})
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/samples/web-session.pcap
              ${PROJECT_SOURCE_DIR}/samples/port-scan.pcap
              ${PROJECT_SOURCE_DIR}/samples/rare-protocols.pcap
              ${PROJECT_SOURCE_DIR}/samples/office-lan.pcap
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(TIDEWRACK_INSTALL_RECORDS ${PROJECT_BINARY_DIR}/install-records)
if(NOT TARGET uninstall)
    add_custom_target(uninstall
        COMMAND ${CMAKE_COMMAND} -D RECORDS=${TIDEWRACK_INSTALL_RECORDS}
                -D PREFIX=${CMAKE_INSTALL_PREFIX} -P ${PROJECT_SOURCE_DIR}/cmake/uninstall.cmake
        COMMENT "Removing the files of the last installation into ${CMAKE_INSTALL_PREFIX}"
        VERBATIM)
endif()
