# Cross-compiles for the board (32-bit ARM, hard float) with Debian's cross
# toolchain (crossbuild-essential-armhf) and the armhf multiarch libraries
# installed beside the host's. Programs that run during the build (moc, rcc)
# are the host's; test programs run under user-mode emulation (qemu-arm).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(ZEM_TARGET_TRIPLET arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${ZEM_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZEM_TARGET_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${ZEM_TARGET_TRIPLET})

# pkg-config reads the armhf package files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${ZEM_TARGET_TRIPLET}/pkgconfig:/usr/share/pkgconfig)

find_program(ZEM_QEMU_ARM qemu-arm)
if(ZEM_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZEM_QEMU_ARM})
endif()
