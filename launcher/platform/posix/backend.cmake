# The POSIX backend: the JDK's libjvm, and the stand-in for package identity.
if(NOT DEFINED ENV{JAVA_HOME})
  foreach(candidate /usr/lib/jvm/java-17-openjdk-amd64 /usr/lib/jvm/default-java)
    if(EXISTS ${candidate}/include/jni.h)
      set(ENV{JAVA_HOME} ${candidate})
      break()
    endif()
  endforeach()
endif()
find_package(JNI REQUIRED COMPONENTS JVM)
target_include_directories(launcher_core PUBLIC ${JNI_INCLUDE_DIRS})
target_link_libraries(launcher_core PUBLIC ${JAVA_JVM_LIBRARY} standin)

get_filename_component(trevalon_jvm_dir ${JAVA_JVM_LIBRARY} DIRECTORY)

# libjvm is bound at load time. A bundled runtime beside the installed program wins over the
# JDK the program was built against.
function(launcher_backend_program target)
  set(rpath "$ORIGIN/../runtime/lib/server;${trevalon_jvm_dir}")
  set_target_properties(${target} PROPERTIES BUILD_RPATH "${rpath}" INSTALL_RPATH "${rpath}")
  target_link_options(${target} PRIVATE "LINKER:--enable-new-dtags")
  # The JVM looks the updater's native method up by name in the process.
  target_link_options(${target} PRIVATE
    "LINKER:--export-dynamic-symbol=Java_quelmarin_trevalon_updater_OnlineUpdater_nCheckForUpdates")
endfunction()
