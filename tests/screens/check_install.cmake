# Installs the build into a scratch prefix and checks what a desktop needs from it: the
# program in bin/, a valid desktop entry that names it and its icon, and the icon at every
# size of the hicolor theme; what a Debian package carries beside it: the manual page, the
# AppStream metainfo, the copyright notice and changelog. Nothing else may be installed.
foreach(var BUILD_DIR WORK_DIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()

set(prefix ${WORK_DIR}/usr)
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
    RESULT_VARIABLE result OUTPUT_QUIET)
if(result)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(icon_sizes 16 32 48 64 128 256)
set(metainfo share/metainfo/org.example.kibro.metainfo.xml)
set(expected bin/kibro bin/kibro-send bin/kibro-receive share/applications/kibro.desktop
    share/man/man1/kibro.1.gz share/man/man1/kibro-receive.1.gz
    share/bash-completion/completions/kibro-receive
    share/man/man1/kibro-send.1.gz share/bash-completion/completions/kibro-send ${metainfo}
    share/doc/kibro/copyright share/doc/kibro/changelog.gz)
foreach(size IN LISTS icon_sizes)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/kibro.png)
endforeach()
file(GLOB_RECURSE installed RELATIVE ${prefix} ${prefix}/*)
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
    message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()

execute_process(COMMAND test -x ${prefix}/bin/kibro RESULT_VARIABLE result)
if(result)
    message(FATAL_ERROR "bin/kibro is not executable")
endif()

set(desktop ${prefix}/share/applications/kibro.desktop)
file(STRINGS ${desktop} exec_line REGEX "^Exec=")
file(STRINGS ${desktop} icon_line REGEX "^Icon=")
# A file manager's "Open with" passes the chosen file.
if(NOT exec_line STREQUAL "Exec=kibro %f" OR NOT icon_line STREQUAL "Icon=kibro")
    message(FATAL_ERROR "the desktop entry names '${exec_line}' and '${icon_line}'")
endif()

foreach(size IN LISTS icon_sizes)
    set(png ${prefix}/share/icons/hicolor/${size}x${size}/apps/kibro.png)
    file(READ ${png} signature LIMIT 8 HEX)
    file(READ ${png} header OFFSET 16 LIMIT 8 HEX)
    string(SUBSTRING "${header}" 0 8 width)
    string(SUBSTRING "${header}" 8 8 height)
    math(EXPR width "0x${width}")
    math(EXPR height "0x${height}")
    if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT width EQUAL size OR NOT height EQUAL size)
        message(FATAL_ERROR "${png} is not a ${size}x${size} PNG (${width}x${height})")
    endif()
endforeach()

# man-db and lintian want the pages at gzip's best compression and without a time stamp, and
# the page must come out of roff without warnings.
foreach(gz share/man/man1/kibro.1.gz share/man/man1/kibro-send.1.gz share/man/man1/kibro-receive.1.gz
        share/doc/kibro/changelog.gz)
    file(READ ${prefix}/${gz} gzip_header LIMIT 10 HEX)
    string(SUBSTRING "${gzip_header}" 8 8 mtime)
    string(SUBSTRING "${gzip_header}" 16 2 extra_flags)
    if(NOT gzip_header MATCHES "^1f8b08" OR NOT mtime STREQUAL "00000000"
       OR NOT extra_flags STREQUAL "02")
        message(FATAL_ERROR "${gz} is not gzip -9n output (header ${gzip_header})")
    endif()
endforeach()
find_program(MAN_PROGRAM man)
if(MAN_PROGRAM)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANWIDTH=80
        ${MAN_PROGRAM} --warnings -E UTF-8 -l -Tutf8 ${prefix}/share/man/man1/kibro.1.gz
        RESULT_VARIABLE result OUTPUT_VARIABLE page ERROR_VARIABLE warnings)
    if(result OR warnings OR NOT page MATCHES "kibro +[^ ]+ +send +a +file")
        message(FATAL_ERROR "man kibro: ${result}\n${warnings}")
    endif()
endif()

# The metainfo must name the desktop entry installed beside it.
file(READ ${prefix}/${metainfo} metainfo_text)
if(NOT metainfo_text MATCHES "<launchable type=\"desktop-id\">kibro.desktop</launchable>")
    message(FATAL_ERROR "${metainfo} does not launch kibro.desktop")
endif()
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
    execute_process(COMMAND ${APPSTREAMCLI} validate --no-net ${prefix}/${metainfo}
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(result)
        message(FATAL_ERROR "appstreamcli validate: ${result}\n${output}")
    endif()
endif()

find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(NOT DESKTOP_FILE_VALIDATE)
    message(FATAL_ERROR "desktop-file-validate not found (desktop-file-utils): not checked")
endif()
execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} ${desktop}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(result OR output)
    message(FATAL_ERROR "desktop-file-validate: ${result}\n${output}")
endif()
message(STATUS "installed and valid: ${expected}")
