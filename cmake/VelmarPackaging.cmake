# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, made by `cpack -G DEB` in the build folder (see
# scripts/package.sh). Its contents are the install rules; its version is the
# project's; its library dependencies come from dpkg-shlibdeps on the installed
# programs, so they follow whatever the programs link.

set(CPACK_PACKAGE_NAME ${VELMAR_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "The Velmar IMU developers")
set(CPACK_PACKAGE_CONTACT "The Velmar IMU developers <velmar-imu@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "Velmar IMU is a desktop tool for the Velmar nine-axis inertial measurement\n\
module (accelerometer, gyroscope, magnetometer, temperature and on-board\n\
orientation) on a 115200-baud serial line: five live charts, a 3D box that\n\
turns with the module, the module's registers to read and edit, and guided\n\
calibrations of the accelerometer, gyroscope and magnetometer.\n\
.\n\
velmar-sim, a simulated module on a pseudo-terminal, is included for work\n\
without hardware.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
# The build keeps its debugging information; the package does not need it.
set(CPACK_STRIP_FILES ON)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VELMAR_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
file(STRINGS ${PROJECT_SOURCE_DIR}/dist/qml-runtime-packages qml_packages REGEX "^[a-z0-9]")
list(JOIN qml_packages ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# Without a renderer the 3D box and the point clouds draw nothing.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgl1-mesa-dri")

include(CPack)
