# Signs one Windows binary in place with osslsigncode (Authenticode, SHA-256),
# through a temporary file. A signing that fails fails the build and removes
# the unsigned binary, so that no later build takes it for a signed one
# (the next one links it again). Run with
#   cmake -DFILE=<binary> -DCERT=<cert or .p12/.pfx> [-DKEY=<key>] [-DPASSWORD_FILE=<file>]
#         [-DTIMESTAMP_URL=<url>] [-DDESCRIPTION=<text>] [-DOSSLSIGNCODE=<program>] -P Sign.cmake
if(NOT FILE OR NOT CERT)
  message(FATAL_ERROR "Sign.cmake needs FILE and CERT")
endif()
if(NOT OSSLSIGNCODE)
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
endif()
set(args sign -h sha256)
if(CERT MATCHES "\\.(p12|pfx)$")
  list(APPEND args -pkcs12 ${CERT})
else()
  list(APPEND args -certs ${CERT} -key ${KEY})
endif()
if(PASSWORD_FILE)
  list(APPEND args -readpass ${PASSWORD_FILE})
endif()
if(DESCRIPTION)
  list(APPEND args -n ${DESCRIPTION})
endif()
if(TIMESTAMP_URL)
  list(APPEND args -ts ${TIMESTAMP_URL})
endif()
set(signed ${FILE}.signed)
file(REMOVE ${signed})
execute_process(COMMAND ${OSSLSIGNCODE} ${args} -in ${FILE} -out ${signed}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT EXISTS ${signed})
  file(REMOVE ${signed} ${FILE})
  message(FATAL_ERROR "Signing ${FILE} failed:\n${out}")
endif()
file(RENAME ${signed} ${FILE})
