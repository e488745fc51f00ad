# Project-wide compile settings, carried by one INTERFACE target that every target links.
add_library(quillmor_common INTERFACE)
target_compile_options(quillmor_common INTERFACE
    -Wall -Wextra -Wold-style-cast -Woverloaded-virtual -Wnon-virtual-dtor)
target_compile_definitions(quillmor_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_USE_QSTRINGBUILDER
    QT_DISABLE_DEPRECATED_BEFORE=0x060400)
if(QUILLMOR_WERROR)
    target_compile_options(quillmor_common INTERFACE -Werror)
endif()
if(QUILLMOR_SANITIZERS)
    target_compile_options(quillmor_common INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(quillmor_common INTERFACE -fsanitize=address,undefined)
endif()
