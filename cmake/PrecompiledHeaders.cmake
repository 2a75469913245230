# Precompiled headers. Most of a clean build goes into reading the same Qt and
# standard headers again for every file; compiled once and reused, they are
# read in a fraction of the time. Three sets, each compiled once by a target
# of its own (vornterm_pch_<kind>) and reused by every target of that kind:
#   core     the rooms that link Qt Core only
#   widgets  the rooms with widgets (they link Qt Widgets, or a room that does)
#   tests    the test suites (their own definitions, Qt Test)
# A set holds only headers of Qt and of the standard library, never one of
# ours, so a change in src/ never rebuilds it.
#
# On by default with GCC and no compiler launcher. With a launcher such as
# ccache it is off: ccache does not cache a file that uses a precompiled
# header unless its sloppiness settings allow it, so every file would be
# compiled again on each build. -DVORNTERM_PCH=ON|OFF decides either way.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(vornterm_pch_default ON)
else()
  set(vornterm_pch_default OFF)
endif()
option(VORNTERM_PCH "Precompile the Qt and standard headers (see cmake/PrecompiledHeaders.cmake)"
       ${vornterm_pch_default})

set(VORNTERM_PCH_CORE
  <QByteArray> <QFile> <QFileInfo> <QList> <QObject> <QString> <QStringList> <QTimer> <QtGlobal>
  <algorithm> <atomic> <chrono> <condition_variable> <deque> <functional> <memory> <mutex>
  <thread> <vector>)
set(VORNTERM_PCH_WIDGETS ${VORNTERM_PCH_CORE}
  <QAccessible> <QApplication> <QCheckBox> <QDialog> <QKeyEvent> <QLabel> <QMenu> <QPainter>
  <QScrollBar> <QWidget>)
set(VORNTERM_PCH_TESTS ${VORNTERM_PCH_WIDGETS} <QtTest>)

# The target that compiles one set. Its compile definitions and the Qt modules
# it links must be those of the targets that reuse it, or the compiler refuses
# the set (GCC warns "-Winvalid-pch" and reads the headers as usual).
#   vornterm_pch_host(<kind> HEADERS <headers> LINK <targets> [DEFINES <definitions>])
function(vornterm_pch_host kind)
  if(NOT VORNTERM_PCH)
    return()
  endif()
  cmake_parse_arguments(PCH "" "" "HEADERS;LINK;DEFINES" ${ARGN})
  set(source ${CMAKE_BINARY_DIR}/pch/vornterm_pch_${kind}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "// Compiles the precompiled headers of kind ${kind}; no code of its own.\n")
  add_library(vornterm_pch_${kind} OBJECT ${source})
  target_link_libraries(vornterm_pch_${kind} PRIVATE ${PCH_LINK})
  target_compile_definitions(vornterm_pch_${kind} PRIVATE ${PCH_DEFINES})
  target_precompile_headers(vornterm_pch_${kind} PRIVATE ${PCH_HEADERS})
  set_target_properties(vornterm_pch_${kind} PROPERTIES AUTOMOC OFF)
endfunction()

# Lets <target> reuse the set of <kind>.
function(vornterm_precompile target kind)
  if(VORNTERM_PCH)
    target_precompile_headers(${target} REUSE_FROM vornterm_pch_${kind})
  endif()
endfunction()

vornterm_pch_host(core HEADERS ${VORNTERM_PCH_CORE} LINK Qt6::Core DEFINES QT_NO_KEYWORDS)
vornterm_pch_host(widgets HEADERS ${VORNTERM_PCH_WIDGETS} LINK Qt6::Widgets DEFINES QT_NO_KEYWORDS)
