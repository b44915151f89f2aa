# Cross-building the macOS programs on Linux: clang and LLVM's Mach-O tools (Debian's clang-16,
# lld-16 and llvm-16), against a macOS SDK sysroot. scripts/macos-build uses it:
#
#   cmake -S . -B build-macos -DCMAKE_TOOLCHAIN_FILE=cmake/macos-cross.cmake \
#         -DCMAKE_SYSTEM_NAME=Darwin -DORVANE_MACOS_SYSROOT=<sysroot> -DCMAKE_OSX_ARCHITECTURES=arm64
#
# CMAKE_SYSTEM_NAME is given on the command line too, so that CMakeLists.txt's macOS defaults
# (set before project(), which reads this file) apply as on a Mac.
# The sysroot must reach each framework's stub under its install name, as
# scripts/macos-sysroot-overlay lays it out. One architecture per build tree: clang's driver
# would need Apple's lipo to join several, so scripts/macos-build joins them with llvm-lipo.
set(CMAKE_SYSTEM_NAME Darwin)
set(ORVANE_LLVM_SUFFIX "-16" CACHE STRING "Version suffix of the clang and LLVM tools")
set(ORVANE_MACOS_SYSROOT "" CACHE PATH "macOS SDK sysroot, laid out by scripts/macos-sysroot-overlay")
if(NOT ORVANE_MACOS_SYSROOT)
  message(FATAL_ERROR "macos-cross: set ORVANE_MACOS_SYSROOT to a macOS SDK sysroot")
endif()
# try_compile projects see this file again, without the cache: hand the settings on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORVANE_MACOS_SYSROOT ORVANE_LLVM_SUFFIX)

# The one architecture of this tree picks clang's target; the deployment target comes from
# CMAKE_OSX_DEPLOYMENT_TARGET, as on a Mac.
list(LENGTH CMAKE_OSX_ARCHITECTURES arch_count)
if(NOT arch_count EQUAL 1)
  message(FATAL_ERROR "macos-cross: set CMAKE_OSX_ARCHITECTURES to one architecture (arm64 or x86_64)")
endif()
foreach(lang C CXX OBJCXX)
  set(CMAKE_${lang}_COMPILER_TARGET ${CMAKE_OSX_ARCHITECTURES}-apple-darwin)
endforeach()
set(CMAKE_C_COMPILER clang${ORVANE_LLVM_SUFFIX})
set(CMAKE_CXX_COMPILER clang++${ORVANE_LLVM_SUFFIX})
set(CMAKE_OBJCXX_COMPILER clang++${ORVANE_LLVM_SUFFIX})
set(CMAKE_AR llvm-ar${ORVANE_LLVM_SUFFIX} CACHE FILEPATH "")
set(CMAKE_RANLIB llvm-ranlib${ORVANE_LLVM_SUFFIX} CACHE FILEPATH "")
find_program(ORVANE_LD64 ld64.lld${ORVANE_LLVM_SUFFIX} REQUIRED)
set(CMAKE_LINKER ${ORVANE_LD64} CACHE FILEPATH "")
set(CMAKE_INSTALL_NAME_TOOL llvm-install-name-tool${ORVANE_LLVM_SUFFIX} CACHE FILEPATH "")
set(CMAKE_OTOOL llvm-otool${ORVANE_LLVM_SUFFIX} CACHE FILEPATH "")
set(CMAKE_OSX_SYSROOT ${ORVANE_MACOS_SYSROOT} CACHE PATH "")

# macOS's own C++ library headers, as Xcode uses, rather than any the compiler brings.
foreach(lang CXX OBJCXX)
  set(CMAKE_${lang}_FLAGS_INIT "--start-no-unused-arguments -nostdinc++ --end-no-unused-arguments \
-isystem ${ORVANE_MACOS_SYSROOT}/usr/include/c++/v1")
endforeach()

# The one exception to linking every symbol to its library: the sysroot has no stubs of the C
# and C++ runtime (libSystem, libc++), so their symbols are left to the loader's lookup at run
# time. scripts/macos-binary-check (runtime_symbol) checks that nothing else is.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-fuse-ld=lld --ld-path=${ORVANE_LD64} -Wl,-undefined,dynamic_lookup")

set(CMAKE_FIND_ROOT_PATH ${ORVANE_MACOS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
