# Flags shared by every target of ours: the language level, the warnings (errors with
# -DTARNWICK_WERROR=ON),
# and the sanitizer build selected with -DTARNWICK_SANITIZE=ON.

add_library(tarnwick_options INTERFACE)
target_compile_features(tarnwick_options INTERFACE cxx_std_20)
target_compile_options(tarnwick_options INTERFACE
  -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Woverloaded-virtual)

# Warnings fail developers' builds (make test, CI) only: a newer compiler's new warning must not
# break a user's or a distribution's build.
option(TARNWICK_WERROR "Treat warnings as errors" OFF)
if(TARNWICK_WERROR)
  target_compile_options(tarnwick_options INTERFACE -Werror)
endif()
target_compile_definitions(tarnwick_options INTERFACE _FILE_OFFSET_BITS=64)

option(TARNWICK_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(TARNWICK_SANITIZE)
  set(_tarnwick_san -fsanitize=address,undefined -fno-omit-frame-pointer
                    -fno-sanitize-recover=undefined)
  target_compile_options(tarnwick_options INTERFACE ${_tarnwick_san})
  target_link_options(tarnwick_options INTERFACE ${_tarnwick_san})
endif()

# Coverage instrumentation for libFuzzer (clang only), for `make fuzz`: every target is
# instrumented, and fuzz/ links its fuzzer with libFuzzer's main.
option(TARNWICK_FUZZ "Instrument for libFuzzer and build the fuzz target (clang)" OFF)
if(TARNWICK_FUZZ)
  target_compile_options(tarnwick_options INTERFACE -fsanitize=fuzzer-no-link)
  target_link_options(tarnwick_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# Extra strictness for code that uses Qt: no implicit char* to QString, no Qt keywords
# (GLib headers use "signals" as an identifier).
add_library(tarnwick_qt_options INTERFACE)
target_link_libraries(tarnwick_qt_options INTERFACE tarnwick_options)
target_compile_definitions(tarnwick_qt_options INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_KEYWORDS QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
