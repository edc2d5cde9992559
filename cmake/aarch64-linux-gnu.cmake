# arm64: a 64-bit OS on a Raspberry Pi 3, 4 or 5 and other ARMv8 boards.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(BEAMCLOCK_TRIPLET aarch64-linux-gnu)
set(BEAMCLOCK_DEB_ARCH arm64)
set(BEAMCLOCK_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
