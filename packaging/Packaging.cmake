# Installation and the Debian package.
#
# The program goes to lib/orvik/ with its Files/ and examples/ beside it, where it looks for
# them; bin/ holds links to it and to the virtual robot. The desktop entry and the icon go
# where desktops look for them.

set(ORVIK_FOLDER lib/orvik)

install(TARGETS orvik orvik-sim RUNTIME DESTINATION ${ORVIK_FOLDER})
install(FILES ${USER_GUIDE_PDF} DESTINATION ${ORVIK_FOLDER}/Files)
install(FILES ${example_sources} DESTINATION ${ORVIK_FOLDER}/examples)

# Relative links, so that the installed tree works wherever its prefix is.
set(links_dir ${CMAKE_CURRENT_BINARY_DIR}/bin-links)
file(MAKE_DIRECTORY ${links_dir})
foreach(program orvik orvik-sim)
    file(CREATE_LINK ../${ORVIK_FOLDER}/${program} ${links_dir}/${program} SYMBOLIC)
    install(FILES ${links_dir}/${program} DESTINATION bin)
endforeach()

install(FILES packaging/orvik.desktop DESTINATION share/applications)
install(FILES packaging/orvik.svg DESTINATION share/icons/hicolor/scalable/apps)
install(DIRECTORY ${ICONS_DIR} DESTINATION share/icons)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Orvik Serial Interface developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for the Orvik humanoid robot over a serial line")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Moves each body part of an Orvik robot (eyebrows, eyes, neck, mouth, arms) with sliders\n"
    "and speeds, shows its batteries, analogue inputs and whiskers, and edits and plays\n"
    "scripts of timed moves. Includes orvik-sim, a virtual robot on a pseudo-terminal.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The Qt and C++ runtime packages, from the libraries the programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The user guide opens in the desktop's PDF viewer through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
include(CPack)
