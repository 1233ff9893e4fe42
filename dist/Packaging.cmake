# SPDX-License-Identifier: GPL-3.0-or-later
# `make package`: a Debian package of what `cmake --install` installs, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vandrelle)
set(CPACK_PACKAGE_VENDOR "The Vandrelle developers")
set(CPACK_PACKAGE_CONTACT ${VANDRELLE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Remote Desktop connections kept in a tree, opened in tabs")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Vandrelle keeps Remote Desktop (RDP) connections as a tree of groups and\n"
    "servers in one hand-editable XML file, lets servers inherit their log-on\n"
    "settings from their groups, and opens each server in a tab of one window\n"
    "with an RDP session inside (FreeRDP).\n"
    "\n"
    "The companion vandrelle-cli reads and edits the same tree from the\n"
    "command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VANDRELLE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the programs link, with the versions they need (FreeRDP's
# from bookworm-backports), as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the program loads at run time without linking it, so no library
# lookup can find it: Qt's SVG icon engine and image plugin, with which every
# icon of the program is drawn. (The xcb platform plugin comes with libqt6gui6,
# which the program links.)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt6svg6)
# "Connect with the system's RDP client" starts FreeRDP's own client.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS freerdp3-x11)
include(CPack)
