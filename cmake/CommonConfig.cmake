# Compiler settings shared by every target of the project: link filehash_common.
add_library(filehash_common INTERFACE)
target_compile_features(filehash_common INTERFACE cxx_std_17)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(filehash_common INTERFACE -Wall -Wextra -pedantic)
target_compile_definitions(filehash_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    # Nothing Qt 5.15 deprecated is there to use, and anything deprecated up to the Qt in use warns
    # (an error under FILEHASH_WERROR), so the sources stay buildable with Qt 5 and Qt 6 alike.
    QT_DISABLE_DEPRECATED_BEFORE=0x050F00
    QT_DEPRECATED_WARNINGS_SINCE=QT_VERSION)
if(FILEHASH_WERROR)
    target_compile_options(filehash_common INTERFACE -Werror)
endif()
if(FILEHASH_PRODUCTION AND NOT FILEHASH_SANITIZE)
    # What Debian builds its own packages with: checked buffer functions, stack canaries, and
    # relocations made read-only before the program runs.
    target_compile_options(filehash_common INTERFACE -fstack-protector-strong
        $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
    target_link_options(filehash_common INTERFACE -Wl,-z,relro,-z,now)
endif()
if(FILEHASH_SANITIZE)
    target_compile_options(filehash_common INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(filehash_common INTERFACE -fsanitize=address,undefined)
endif()
