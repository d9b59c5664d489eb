# The target thread-safety: every source of the platform layers and KorbitCore (libraries of the
# fuzz tree, built in full) and, of the speech library and the application, the sources that can
# touch annotated state: those that use the annotations (VELMORA_..., MutexLock, onThread) and those
# that include a header declaring guarded state. The latter are compiled for the analysis alone:
# without sanitizers, coverage, optimisation or debug information, into an object library nothing
# links.

add_custom_target(thread-safety)
foreach(library PlatformText PlatformLog PlatformSys PlatformCrypto PlatformCompression PlatformNet PlatformML
                PlatformAudio KorbitCore)
  if(TARGET ${library})
    add_dependencies(thread-safety ${library})
  endif()
endforeach()

file(GLOB_RECURSE annotated_candidates CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/Sources/*.hpp)
set(annotated_headers)
foreach(header ${annotated_candidates})
  file(STRINGS ${header} guarded REGEX "VELMORA_GUARDED_BY")
  if(guarded)
    file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR}/Sources ${header})
    list(APPEND annotated_headers ${name})
  endif()
endforeach()

file(GLOB_RECURSE candidates CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/Sources/Tremolan/*.cpp
     ${PROJECT_SOURCE_DIR}/Sources/Velmora/*.cpp)
set(checked)
foreach(source ${candidates})
  file(STRINGS ${source} uses REGEX "VELMORA_[A-Z_]+|MutexLock|onThread\\(\\)|#include \"")
  set(take FALSE)
  foreach(line ${uses})
    if(line MATCHES "VELMORA_[A-Z_]+\\(|MutexLock|onThread\\(\\)")
      set(take TRUE)
    elseif(line MATCHES "#include \"([^\"]+)\"" AND CMAKE_MATCH_1 IN_LIST annotated_headers)
      set(take TRUE)
    endif()
  endforeach()
  if(take)
    list(APPEND checked ${source})
  endif()
endforeach()

if(checked)
  add_library(ThreadSafetyChecks OBJECT EXCLUDE_FROM_ALL ${checked})
  target_include_directories(ThreadSafetyChecks PRIVATE ${PROJECT_SOURCE_DIR}/Sources)
  target_compile_options(ThreadSafetyChecks PRIVATE -fno-sanitize=all -O0 -g0)
  if(TARGET Velmora)
    # The application's usage requirements without a dependency on its library.
    find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets DBus)
    target_link_libraries(ThreadSafetyChecks PRIVATE Qt6::Core Qt6::Gui Qt6::Widgets Qt6::DBus
                                                     nlohmann_json::nlohmann_json)
    target_compile_definitions(ThreadSafetyChecks PRIVATE QT_NO_KEYWORDS VELMORA_VERSION="${PROJECT_VERSION}")
    set_target_properties(ThreadSafetyChecks PROPERTIES AUTOMOC ON)
  endif()
  add_dependencies(thread-safety ThreadSafetyChecks)
endif()
