# Installation and the Debian package.
#
# The program goes to lib/orvik/ with its Files/ and examples/ beside it, where it looks for
# them; bin/ holds links to it and to the virtual robot. The desktop entry, the icon and the
# manual pages go where desktops and man look for them, the copyright and changelog where
# Debian keeps them.

set(ORVIK_FOLDER lib/orvik)

install(TARGETS orvik orvik-sim RUNTIME DESTINATION ${ORVIK_FOLDER})
# Stripped (for the package), the programs also lose the compiler's version notes, as
# Debian's own packages do.
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        foreach(program orvik orvik-sim)
            execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${ORVIK_FOLDER}/\${program}\"
                COMMAND_ERROR_IS_FATAL ANY)
        endforeach()
    endif()")
install(FILES ${USER_GUIDE_PDF} DESTINATION ${ORVIK_FOLDER}/Files)
install(FILES ${example_sources} DESTINATION ${ORVIK_FOLDER}/examples)

# Relative links, so that the installed tree works wherever its prefix is.
set(links_dir ${CMAKE_CURRENT_BINARY_DIR}/bin-links)
file(MAKE_DIRECTORY ${links_dir})
foreach(program orvik orvik-sim)
    file(CREATE_LINK ../${ORVIK_FOLDER}/${program} ${links_dir}/${program} SYMBOLIC)
    install(FILES ${links_dir}/${program} DESTINATION bin)
endforeach()

# The manual pages, with the version filled in, and the package's copyright and changelog,
# compressed as Debian wants them: at the highest level and without a name or time stamp
# in the header, so that the same text gives the same bytes.
set(docs_dir ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(compressed_docs)
foreach(page orvik.1 orvik-sim.1)
    configure_file(docs/${page}.in ${docs_dir}/${page} @ONLY)
    list(APPEND compressed_docs ${docs_dir}/${page}.gz)
endforeach()
configure_file(packaging/changelog ${docs_dir}/changelog COPYONLY)
list(APPEND compressed_docs ${docs_dir}/changelog.gz)
foreach(compressed IN LISTS compressed_docs)
    string(REGEX REPLACE "[.]gz$" "" plain ${compressed})
    add_custom_command(OUTPUT ${compressed}
        COMMAND gzip -9nkf ${plain}
        DEPENDS ${plain}
        COMMENT "Compressing ${plain}")
endforeach()
add_custom_target(package_docs ALL DEPENDS ${compressed_docs})
install(FILES ${docs_dir}/orvik.1.gz ${docs_dir}/orvik-sim.1.gz DESTINATION share/man/man1)
# A package built by the project itself (no Debian revision) keeps its changelog as
# changelog.gz.
install(FILES packaging/copyright ${docs_dir}/changelog.gz DESTINATION share/doc/orvik)
install(FILES packaging/lintian-overrides DESTINATION share/lintian/overrides RENAME orvik)

install(FILES packaging/orvik.desktop DESTINATION share/applications)
install(FILES packaging/orvik.svg DESTINATION share/icons/hicolor/scalable/apps)
install(DIRECTORY ${ICONS_DIR} DESTINATION share/icons)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The same name and address as the changelog's and the copyright file's.
set(CPACK_PACKAGE_CONTACT "Orvik Serial Interface developers <orvik@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for the Orvik humanoid robot over a serial line")
# Lines of the long description stay within 80 columns.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Moves each body part of an Orvik robot (eyebrows, eyes, neck, mouth,\n"
    "arms) with sliders and speeds, shows its batteries, analogue inputs and\n"
    "whiskers, and edits and plays scripts of timed moves. Includes orvik-sim,\n"
    "a virtual robot on a pseudo-terminal.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The Qt and C++ runtime packages, from the libraries the programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The user guide opens in the desktop's PDF viewer through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
include(CPack)
