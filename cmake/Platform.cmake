# The files that hold each layer's platform code, and the one place that says which platforms
# are built. The shared files hold none: a port adds files here and leaves them alone.
#
# Each layer compiles its list: KIBRO_CORE_PLATFORM, KIBRO_SERIAL_PLATFORM,
# KIBRO_TRANSFER_PLATFORM and KIBRO_CLI_PLATFORM, named relative to the layer's folder; the
# window program KIBRO_PROGRAM_PLATFORM (relative to src/app), with the libraries it needs
# in KIBRO_PROGRAM_PLATFORM_LIBRARIES.
#
# Linux is the only platform built and tested here. A Windows or macOS port adds these files,
# with what is already known of them:
#   Windows
#     filenames_win.cpp   paths as UTF-8; listing and directory checks through QDir and
#                         QFileInfo; baseName splits at '\' as well as '/'; links left as named
#     termination_win.cpp console Ctrl-C, close and shutdown events through
#                         SetConsoleCtrlHandler, handed to the event loop
#     serialport_win.cpp  driver queues from ClearCommError (cbOutQue, cbInQue); every write
#                         through QSerialPort; no hang-up poll; no busy reason beyond Qt's;
#                         lockedBy says nobody; drainOutput polls cbOutQue until the bound.
#                         cbOutQue counts the bytes of pending writes; for the in-box USB
#                         modem-class driver (usbser.sys), untried, it should fall to 0 a
#                         round trip after each write, as usb-serial's count does on Linux
#                         (docs/pacing.md, "On Windows")
#     portholder_win.cpp  findPortHolder and lockHolder find nobody (no lock files)
#     portinfo_win.cpp    describeDevice from QSerialPortInfo::availablePorts(), matched by
#                         port name (any case) or system location; mayOpen says yes (only an
#                         open tells), accessAdvice nothing
#     portmap_win.cpp     COM<n> opens "COM<n>" for n > 0; a stored name is taken as written
#     displayprobe_none.cpp  unreachableDisplay returns nothing: Windows always has a display
#     fileread_win.cpp    the file opened, sized and read through QFile
#     savefile_win.cpp    the temporary file beside the target through CreateFileW, placed
#                         by MoveFileExW (MOVEFILE_REPLACE_EXISTING only when overwriting)
#                         after FlushFileBuffers; standard output through GetStdHandle
#     terminal_win.cpp    console width from GetConsoleScreenBufferInfo; never dumb; standard
#                         input closed when GetStdHandle gives none
#     waketimer_portable.cpp, diskwatch_portable.cpp (below)
#   macOS
#     the *_unix.cpp files; portholder from lock files only (no /proc);
#     outputdrain_mac.cpp as outputdrain_linux.cpp, woken from a thread (no SIGEV_THREAD_ID)
#     portinfo_mac.cpp    as portinfo_win.cpp
#     portmap_mac.cpp     COM1 /dev/cu.usbserial, COM2 /dev/cu.usbmodem, no others
#     displayprobe_none.cpp (as for Windows)
#     waketimer_portable.cpp, diskwatch_portable.cpp (below)

# The Qt-only wake timer (whole milliseconds) and disk watching (QFileSystemWatcher, volumes
# polled) that a port starts from; built here in their stead so they are kept working. On
# Linux the portable watch loses a folder whose name is no valid text, and one replaced under
# the same name (ui_filechooser's shownFolderGoes fails for both); the rest passes.
option(KIBRO_PORTABLE_FALLBACKS "Use the Qt-only wake timer and disk watching on Linux too" OFF)

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    message(FATAL_ERROR "KIBRO builds on Linux only; cmake/Platform.cmake lists the files a "
        "port to ${CMAKE_SYSTEM_NAME} adds.")
endif()

set(KIBRO_CORE_PLATFORM filenames_unix.cpp termination_unix.cpp diskwatch_linux.cpp)
set(KIBRO_SERIAL_PLATFORM
    serialport_unix.cpp outputdrain_linux.cpp portholder_linux.cpp portinfo_linux.cpp
    portmap_linux.cpp)
set(KIBRO_TRANSFER_PLATFORM fileread_unix.cpp savefile_unix.cpp waketimer_linux.cpp)
set(KIBRO_CLI_PLATFORM terminal_unix.cpp)
# The program asks the X server itself whether it can be reached, before Qt aborts on it.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KIBRO_XCB_CLIENT REQUIRED IMPORTED_TARGET xcb)
set(KIBRO_PROGRAM_PLATFORM displayprobe_xcb.cpp)
set(KIBRO_PROGRAM_PLATFORM_LIBRARIES PkgConfig::KIBRO_XCB_CLIENT)
if(KIBRO_PORTABLE_FALLBACKS)
    set(KIBRO_TRANSFER_PLATFORM fileread_unix.cpp savefile_unix.cpp waketimer_portable.cpp)
    set(KIBRO_CORE_PLATFORM filenames_unix.cpp termination_unix.cpp diskwatch_portable.cpp)
endif()
