# Makes the installation the program tests run against: a fresh home with the
# demo instance. Run with -DBUILD_DIR=... -DHOME=...
file(REMOVE_RECURSE "${HOME}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${HOME}"
                OUTPUT_QUIET RESULT_VARIABLE installed)
if(installed)
  message(FATAL_ERROR "cannot install into ${HOME}")
endif()
execute_process(COMMAND "${HOME}/bin/vdbadm" --home "${HOME}" create PROD --demo
                OUTPUT_QUIET RESULT_VARIABLE created)
if(created)
  message(FATAL_ERROR "cannot create the demo instance in ${HOME}")
endif()
