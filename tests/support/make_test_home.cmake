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
# The tests log on with wrong passwords from one address many times a run: the
# instance refuses them without barring the address. The burst test makes an
# instance of its own with the limits a new instance has.
file(APPEND "${HOME}/dbs/initPROD.vpf" "logon_limit = 1000\nlogon_address_limit = 1000\n")
