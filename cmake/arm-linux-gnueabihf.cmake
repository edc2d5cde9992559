# armhf: the 32-bit OS on a Raspberry Pi 2 and later (ARMv7, hard float).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(BEAMCLOCK_TRIPLET arm-linux-gnueabihf)
set(BEAMCLOCK_DEB_ARCH armhf)
set(BEAMCLOCK_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
