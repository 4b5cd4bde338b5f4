# The Windows backend: the shell and COM for the known folders, and jvm.dll bound at load time
# through an import library made here from jvm.def (the JDK a Windows build finds need not be
# the one the application ships).
set(launcher_windows_dir ${CMAKE_CURRENT_SOURCE_DIR}/platform/windows)
target_compile_definitions(launcher_core PUBLIC UNICODE _UNICODE _WIN32_WINNT=0x0A00
  WINVER=0x0A00)
if(MSVC)
  # The runtime's environment functions are the ones named for the job; no "_s" variants wanted.
  target_compile_definitions(launcher_core PUBLIC _CRT_SECURE_NO_WARNINGS)
endif()
target_link_libraries(launcher_core PUBLIC shell32 ole32 user32)

# jni.h is the same on every OS; its machine-dependent half comes from this folder, ahead of any
# other.
if(NOT DEFINED ENV{JAVA_HOME} AND NOT CMAKE_HOST_WIN32)
  foreach(candidate /usr/lib/jvm/java-17-openjdk-amd64 /usr/lib/jvm/default-java)
    if(EXISTS ${candidate}/include/jni.h)
      set(ENV{JAVA_HOME} ${candidate})
      break()
    endif()
  endforeach()
endif()
find_path(TREVALON_JNI_INCLUDE_DIR jni.h PATHS $ENV{JAVA_HOME}/include NO_DEFAULT_PATH
  NO_CMAKE_FIND_ROOT_PATH REQUIRED)
target_include_directories(launcher_core BEFORE PUBLIC ${launcher_windows_dir}/include)
target_include_directories(launcher_core PUBLIC ${TREVALON_JNI_INCLUDE_DIR})

set(jvm_import_library ${CMAKE_CURRENT_BINARY_DIR}/${CMAKE_STATIC_LIBRARY_PREFIX}jvm.dll${CMAKE_STATIC_LIBRARY_SUFFIX})
if(MSVC)
  set(jvm_import_library ${CMAKE_CURRENT_BINARY_DIR}/jvm.lib)
  add_custom_command(OUTPUT ${jvm_import_library}
    COMMAND lib /nologo /def:${launcher_windows_dir}/jvm.def /machine:${CMAKE_CXX_COMPILER_ARCHITECTURE_ID}
      /out:${jvm_import_library}
    DEPENDS ${launcher_windows_dir}/jvm.def VERBATIM)
else()
  add_custom_command(OUTPUT ${jvm_import_library}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${launcher_windows_dir}/jvm.def
      --dllname jvm.dll --output-lib ${jvm_import_library}
    DEPENDS ${launcher_windows_dir}/jvm.def VERBATIM)
endif()
add_custom_target(jvm_import_library DEPENDS ${jvm_import_library})

# The manifest, and jvm.dll among the imports of every program that binds the JVM.
function(launcher_backend_program target)
  target_sources(${target} PRIVATE ${launcher_windows_dir}/launcher.rc)
  add_dependencies(${target} jvm_import_library)
  target_link_libraries(${target} PRIVATE ${jvm_import_library})
  if(MSVC)
    # launcher.rc carries the program's manifest; the linker must not add its own.
    target_link_options(${target} PRIVATE /MANIFEST:NO)
  endif()
endfunction()
